#pragma once

#include <QByteArray>
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
        // The kind of picture noted as one the readers do not read; empty when none was.
        const QString &unsupported() const { return m_unsupported; }
        // The colour space of the picture as its file stores it ("RGB", "CMYK", "Lab", "grey"),
        // and the colour profile the file embeds; empty when none was noted.
        const QString &colourSpace() const { return m_colourSpace; }
        const QByteArray &colourProfile() const { return m_colourProfile; }

    private:
        friend class DecodeReport;
        Scope *m_previous;
        QString m_damage;
        QString m_unsupported;
        QString m_colourSpace;
        QByteArray m_colourProfile;
    };

    // Notes damage in the file being decoded, in a few words ("the data ends early"); the first
    // note within a scope is kept.
    static void damaged(const QString &reason);

    // The damage noted so far within the thread's innermost scope; empty when none was, or no
    // scope is open.
    static QString noted();

    // Notes that the file is sound as far as its reader can tell, but holds a kind of picture the
    // readers do not read, in a few words ("a TIFF of 32-bit floating-point RGB samples"): not
    // damage. The first note within a scope is kept.
    static void unsupported(const QString &kind);

    // Notes the colour of the picture as its file stores it: its space ("RGB", "CMYK", "Lab",
    // "grey") and the colour profile it embeds (empty for none). The first note within a scope is
    // kept. The rows a reader hands on are RGB whatever the file stores; those of an RGB picture
    // are still in the numbers of its profile (see ColourTransform::convertToSRgb).
    static void colour(const QString &space, const QByteArray &profile);
    // The colour noted so far within the thread's innermost scope.
    static QString notedColourSpace();
    static QByteArray notedColourProfile();

    // Why a file of such a kind gave no picture, as the import and the outputs say it.
    static QString unsupportedText(const QString &kind);
};
