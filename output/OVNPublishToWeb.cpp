#include "output/OVNPublishToWeb.h"

#include "output/OVNJpegWriter.h"
#include "platform/FileAccess.h"
#include "platform/Localized.h"
#include "platform/PropertyList.h"
#include "platform/Resources.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QThread>
#include <QThreadPool>

#include <vector>

namespace {

bool isNameCharacter(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

QString readUtf8(const QString &path, bool *ok)
{
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    return *ok ? QString::fromUtf8(file.readAll()) : QString();
}

// Written given up on when the gallery's folder does not answer: nullopt then.
std::optional<bool> writeUtf8(const QString &path, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return FileAccess::answerWithin(QFileInfo(path).absolutePath(), [path, bytes] {
        return FileAccess::writeThroughTemporary(
            path, [&bytes](QIODevice &file) { return file.write(bytes) == bytes.size(); },
            FileAccess::Existing::Replace);
    });
}

// The text before, between and after the first `start` and the first `end` after it (exact case).
bool cut(const QString &text, const QString &start, const QString &end, QString parts[3])
{
    const qsizetype a = text.indexOf(start);
    if (a < 0)
        return false;
    const qsizetype b = text.indexOf(end, a + start.size());
    if (b < 0)
        return false;
    parts[0] = text.left(a);
    parts[1] = text.mid(a + start.size(), b - a - start.size());
    parts[2] = text.mid(b + end.size());
    return true;
}

// Copies `from` into `to`, replacing files already there; links found in `to` are followed only by
// the rule for shared folders.
bool copyFolder(const QString &from, const QString &to)
{
    const std::optional<QString> top = FileAccess::folderToWriteInto(to);
    if (!top)
        return false;
    bool ok = true;
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString target = QDir(*top).filePath(QDir(from).relativeFilePath(info.filePath()));
        if (info.isSymLink())
            continue; // nothing from outside the theme
        if (info.isDir())
            ok = FileAccess::folderToWriteInto(target).has_value() && ok;
        else
            ok = FileAccess::copyThroughTemporary(info.filePath(), target, FileAccess::Existing::Replace) && ok;
    }
    return ok;
}

QString numbered(const char *pattern, qsizetype n) { return QString::asprintf(pattern, int(n)); }

} // namespace

OVNPublishToWeb::Template::Template(const QString &text)
{
    QString literal;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text.at(i) == QLatin1Char('%') && text.mid(i, 2) == QLatin1String("%%")) {
            qsizetype j = i + 2;
            while (j < text.size() && isNameCharacter(text.at(j)))
                ++j;
            if (j > i + 2 && text.mid(j, 2) == QLatin1String("%%")) {
                if (!literal.isEmpty())
                    m_pieces.append({literal, {}});
                literal.clear();
                m_pieces.append({text.mid(i, j + 2 - i), text.mid(i + 2, j - i - 2).toUpper()});
                i = j + 2;
                continue;
            }
        }
        literal.append(text.at(i));
        ++i;
    }
    if (!literal.isEmpty())
        m_pieces.append({literal, {}});
}

QString OVNPublishToWeb::Template::fill(const QHash<QString, QString> &values) const
{
    QString out;
    for (const Piece &piece : m_pieces) {
        const auto value = piece.name.isEmpty() ? values.constEnd() : values.constFind(piece.name);
        out += value != values.constEnd() ? *value : piece.text;
    }
    return out;
}

QString OVNPublishToWeb::htmlEscaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString OVNPublishToWeb::themeRoot() { return Resources::pathFor(QStringLiteral("PublishToWeb")); }

QList<OVNPublishToWeb::Theme> OVNPublishToWeb::themes(const QString &root)
{
    QList<Theme> found;
    if (root.isEmpty())
        return found;
    const QFileInfoList folders = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &folder : folders) {
        QFile info(QDir(folder.filePath()).filePath(QStringLiteral("info.xml")));
        if (!info.open(QIODevice::ReadOnly) || info.size() > (1 << 20))
            continue;
        const QVariant plist = PropertyList::read(info.readAll());
        if (plist.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariant tag = plist.toMap().value(QStringLiteral("displaytag"));
        if (tag.typeId() == QMetaType::QString && !tag.toString().isEmpty())
            found.append({folder.filePath(), tag.toString()});
    }
    return found;
}

QString OVNPublishToWeb::createFolder(const QString &path)
{
    for (int n = 0; n <= 999; ++n) {
        const QString candidate = n == 0 ? path : path + QLatin1Char('-') + QString::number(n);
        // A folder there is used again; a link to one only by the rule for shared folders (the
        // answer is then where it leads); anything else makes the next name be tried.
        if (const std::optional<QString> folder = FileAccess::folderToWriteInto(candidate))
            return *folder;
    }
    return {};
}

OVNPublishToWeb::Result OVNPublishToWeb::createWebPages(const QList<MediaRecord> &records, const QString &themePath,
                                                        const QString &folder, const Texts &texts,
                                                        const std::function<void(int, int)> &progress,
                                                        const std::atomic_bool *cancelled)
{
    Result result;
    auto refuse = [&result](const char *title, const char *message) {
        result.alertTitle = localized(title);
        result.alertMessage = localized(message);
        return result;
    };

    // Everything the theme must give is checked before anything is written.
    bool indexRead = false, detailsRead = false;
    const QString index =
        themePath.isEmpty() ? QString() : readUtf8(QDir(themePath).filePath(QStringLiteral("index.html")), &indexRead);
    const QString details = themePath.isEmpty()
                                ? QString()
                                : readUtf8(QDir(themePath).filePath(QStringLiteral("details.html")), &detailsRead);
    QString page[3], row[3];
    if (!indexRead || !detailsRead || !cut(index, QStringLiteral("%%ROWSTART%%"), QStringLiteral("%%ROWEND%%"), page)
        || !cut(page[1], QStringLiteral("%%COLSTART%%"), QStringLiteral("%%COLEND%%"), row))
        return refuse("Failed to locate template",
                      "The selected template could not be found. Please check your installation.");

    const QString base = folder.isEmpty() ? QDir::home().filePath(QStringLiteral("Desktop")) : folder;
    // The chosen folder and the links on the way to it are judged first, so that a refused link is
    // named rather than every gallery name tried below it; a folder that does not answer (a mount
    // that stopped answering) is given up on and named.
    struct Folders {
        QString why, gallery, thumbnails, photos;
    };
    const auto folders = std::make_shared<Folders>();
    const std::optional<bool> usable = FileAccess::answerWithin(base, [folders, base] {
        if (!FileAccess::folderToWriteInto(base, &folders->why))
            return false;
        folders->gallery = createFolder(QDir(base).filePath(QStringLiteral("Ostrevan PublishToWeb")));
        if (!folders->gallery.isEmpty()) {
            folders->thumbnails = createFolder(QDir(folders->gallery).filePath(QStringLiteral("thumbnails")));
            folders->photos = createFolder(QDir(folders->gallery).filePath(QStringLiteral("photos")));
        }
        return true;
    });
    if (!usable || !*usable) {
        result.alertTitle = localized("Failed to create destination folder");
        result.alertMessage = !usable ? FileAccess::notAnsweringReason(base)
                                      : localized("The destination folder cannot be used: %1.").arg(folders->why);
        return result;
    }
    const QString gallery = folders->gallery, thumbnails = folders->thumbnails, photos = folders->photos;
    if (gallery.isEmpty() || thumbnails.isEmpty() || photos.isEmpty())
        return refuse(
            "Failed to create destination folder",
            "The destination folder could not be created. Please check your access privileges and disc space.");

    const qsizetype rows = (records.size() + imagesPerRow - 1) / imagesPerRow;
    const int steps = int(1 + rows * imagesPerRow);
    QMutex progressLock;
    int step = 0;
    auto advance = [&](int by) {
        QMutexLocker lock(&progressLock);
        step += by;
        if (progress)
            progress(step, steps);
    };
    advance(1);

    QHash<QString, QString> values{
        {QStringLiteral("TITLE"), htmlEscaped(texts.title)},
        {QStringLiteral("HEADER1"), htmlEscaped(texts.title)},
        {QStringLiteral("HEADER2"), htmlEscaped(texts.subtitle)},
        {QStringLiteral("COPYRIGHT"), htmlEscaped(texts.copyright)},
    };

    // The pictures first, in parallel: the pages link only to pictures that were made.
    std::vector<char> made(size_t(records.size()), 0);
    std::vector<QString> problems(size_t(records.size()));
    QThreadPool pool;
    pool.setMaxThreadCount(OVNJpegWriter::picturesAtOnce());
    for (qsizetype n = 0; n < records.size(); ++n) {
        const QString source = records.at(n).field(MediaRecord::AbsolutePath);
        const int orientation = records.at(n).field(MediaRecord::Orientation).toInt();
        const QString photo = QDir(photos).filePath(numbered("photo%04d.jpg", n));
        const QString thumb = QDir(thumbnails).filePath(numbered("thumb%04d.jpg", n));
        pool.start([&, n, source, orientation, photo, thumb] {
            if (!(cancelled && cancelled->load())) {
                QString why;
                const bool photoWritten = OVNJpegWriter::scaleAndSaveAsJPEG(
                    source, 512, 512, 0.9f, photo, OVNJpegWriter::Caption::Off, {}, {}, orientation, &why);
                const bool thumbWritten = photoWritten
                                          && OVNJpegWriter::scaleAndSaveAsJPEG(source, 256, 256, 0.9f, thumb,
                                                                               OVNJpegWriter::Caption::Off, {}, {},
                                                                               orientation, &why);
                problems[size_t(n)] = why;
                if (photoWritten && !thumbWritten)
                    QFile::remove(photo); // half a picture is no picture
                made[size_t(n)] = thumbWritten ? 1 : 0;
            }
            advance(1);
        });
    }
    pool.waitForDone();
    QList<qsizetype> shown;
    for (qsizetype n = 0; n < records.size(); ++n) {
        if (made[size_t(n)]) {
            shown.append(n);
        } else if (!(cancelled && cancelled->load())) {
            const MediaRecord &record = records.at(n);
            const QString source = record.field(MediaRecord::AbsolutePath);
            QString name = record.field(MediaRecord::DisplayTag);
            if (name.isEmpty())
                name = QFileInfo(source).fileName();
            const QString &why = problems[size_t(n)];
            result.failed.append(name + QStringLiteral(": ")
                                 + (!QFileInfo::exists(source) ? localized("the file is not there")
                                    : why.isEmpty()
                                        ? OVNJpegWriter::readingProblem(ImageFileReader::Facts::Refusal::None, {})
                                        : why));
        }
    }

    const Template head(page[0]), tail(page[2]), rowHead(row[0]), cell(row[1]), rowTail(row[2]);
    const Template detailsPage(details);
    QString html = head.fill(values);
    for (qsizetype first = 0; first < shown.size(); first += imagesPerRow) {
        html += rowHead.fill(values);
        for (qsizetype i = first; i < first + imagesPerRow && i < shown.size(); ++i) {
            const qsizetype n = shown.at(i);
            const MediaRecord &record = records.at(n);
            const QString detailsName = numbered("details%04d.html", n);
            values.insert(QStringLiteral("IMAGETITLE"), htmlEscaped(record.field(MediaRecord::DisplayTag)));
            values.insert(QStringLiteral("IMAGEDESCRIPTION"), htmlEscaped(record.field(MediaRecord::Keywords)));
            values.insert(QStringLiteral("IMAGETITLE2"), QString());
            values.insert(QStringLiteral("DETAILSIMAGELINK"), QLatin1String("photos/") + numbered("photo%04d.jpg", n));
            values.insert(QStringLiteral("THUMBIMAGELINK"),
                          QLatin1String("thumbnails/") + numbered("thumb%04d.jpg", n));
            values.insert(QStringLiteral("DETAILSLINK"), detailsName);
            writeUtf8(QDir(gallery).filePath(detailsName), detailsPage.fill(values));
            html += cell.fill(values);
        }
        html += rowTail.fill(values);
    }
    values.remove(QStringLiteral("IMAGETITLE"));
    values.remove(QStringLiteral("IMAGEDESCRIPTION"));
    values.remove(QStringLiteral("IMAGETITLE2"));
    values.remove(QStringLiteral("DETAILSIMAGELINK"));
    values.remove(QStringLiteral("THUMBIMAGELINK"));
    values.remove(QStringLiteral("DETAILSLINK"));
    html += tail.fill(values);
    // The empty slots of the last row.
    advance(int(rows * imagesPerRow - records.size()));

    if (!writeUtf8(QDir(gallery).filePath(QStringLiteral("index.html")), html)) {
        result.alertTitle = localized("Failed to create destination folder");
        result.alertMessage = FileAccess::notAnsweringReason(gallery);
        return result;
    }
    const QString assets = QDir(themePath).filePath(QStringLiteral("assets"));
    if (QFileInfo(assets).isDir())
        FileAccess::answerWithin(gallery, [assets, gallery] {
            return copyFolder(assets, QDir(gallery).filePath(QStringLiteral("assets")));
        });
    result.galleryPath = gallery;
    result.pictures = int(shown.size());
    return result;
}
