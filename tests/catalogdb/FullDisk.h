#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

// A folder whose file system is full: a small tmpfs mounted for the test (where the test may
// mount one), or an ordinary folder with SQLite's writes failing as they fail on a full disk.
class FullDisk
{
public:
    enum class Kind { Mounted, Injected };
    explicit FullDisk(Kind kind);
    ~FullDisk();
    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

    // Empty when the folder could not be made (mounting refused); why() says why.
    QString folder() const { return m_folder; }
    QString why() const { return m_why; }
    // Lets `bytes` more bytes be written, then nothing; a negative number lifts the limit.
    void fillLeaving(qint64 bytes);

    static const char *name(Kind kind) { return kind == Kind::Mounted ? "tmpfs" : "injected"; }

private:
    Kind m_kind;
    QTemporaryDir m_dir;
    QString m_folder;
    QString m_why;
    bool m_mounted = false;
};
