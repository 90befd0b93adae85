#pragma once

#include <QString>

// What the decoders on a thread noticed about the file they read, beside its picture: damage they
// read past (data that ends early, a corrupt stretch, a frame that decodes with errors). Whoever
// decodes one file on a thread (the import, for each file) opens a scope and asks it when the
// decoding is done; the decoders note what they meet. Without a scope nothing is kept.
class DecodeReport
{
public:
    class Scope
    {
    public:
        Scope();
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

        // The first damage noted within the scope; empty when none was.
        const QString &damage() const { return m_damage; }

    private:
        friend class DecodeReport;
        Scope *m_previous;
        QString m_damage;
    };

    // Notes damage in the file being decoded, in a few words ("the data ends early"); the first
    // note within a scope is kept.
    static void damaged(const QString &reason);

    // The damage noted so far within the thread's innermost scope; empty when none was, or no
    // scope is open.
    static QString noted();
};
