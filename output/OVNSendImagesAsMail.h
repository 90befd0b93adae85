#pragma once

#include "platform/MediaRecord.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// Send as e-mail: the entries become attachments of a new message in the user's mail program,
// either as copies of the originals or as scaled, upright and optionally captioned JPEGs, both in a
// private temporary folder. The mail program is started as a command with arguments, never through a shell.
class OVNSendImagesAsMail
{
public:
    // The size pop-up's item index that attaches the original files.
    static constexpr int originalIndex = 5;

    struct Options {
        int sizeIndex = 0;
        bool caption = false;
        bool captionFilename = false;
        QString author;
    };

    struct Prepared {
        QStringList files;   // in record order
        QStringList failed;  // sources the writer could not convert
        QStringList reasons; // why each of `failed` was not (OVNJpegWriter's words), in its order
    };

    struct Result {
        int exitCode = 0;
        QString program;
        QString problem; // empty when the mail program took the files
    };

    // Whether the pop-up offers a size at that index: the scaled sizes 0 to 3 and the originals;
    // 4 is the separator line between them.
    static constexpr bool isSizeIndex(int sizeIndex)
    {
        return (sizeIndex >= 0 && sizeIndex <= 3) || sizeIndex == originalIndex;
    }

    // The box side for a size index; 0 for the originals.
    static int boxSize(int sizeIndex);

    // The private folder the attachments are made in (created with mode 0700 when missing), or empty
    // when it cannot be made safely. The mail program reads the files after the hand-over, so they
    // are removed only by removeOldAttachments at a later start.
    static QString attachmentFolder();
    // Removes files and folders in `folder` last modified more than a day before `now`.
    static void removeOldAttachments(const QString &folder, const QDateTime &now = QDateTime::currentDateTime());

    // "Ostrevan NAME %i.jpg" for a source path (NAME only when the path has more than two components).
    static QString nameTemplate(const QString &source);

    // Makes the files to attach. Runs on a worker; `progress(done)` is called after each record.
    static Prepared prepare(const QList<MediaRecord> &records, const Options &options, const QString &folder,
                            const std::function<void(int done)> &progress = {},
                            const std::atomic_bool *cancelled = nullptr);

    // The mail command's arguments after the program's own: --utf8, subject, body, one --attach per file.
    static QStringList mailArguments(const QStringList &files);

    // Runs `command` (split like a command line, no shell) with the mail arguments and waits for it.
    static Result handOver(const QString &command, const QStringList &files);

    // What an exit status of xdg-email means, or empty.
    static QString exitReason(int status);

    // The one alert for what went wrong: files not converted and a mail program that failed,
    // naming the program and the "MailCommand" preference that chooses it. An empty title when
    // all went well.
    struct Report {
        QString title, text;
    };
    static Report failureReport(const Prepared &prepared, const Result &result);

    static QString defaultCommand() { return QStringLiteral("xdg-email"); }
};
