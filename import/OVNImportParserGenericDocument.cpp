// The type icon of documents.

#include "import/OVNImportParserGenericDocument.h"

#include "platform/FileAccess.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

constexpr int answerWaitMs = 2000;

// The theme's icon for the first name it has, drawn centred on a transparent square of the
// thumbnail size. GUI thread only.
QImage themeIcon(const QStringList &names)
{
    const int size = OVNImportParserGenericDocument::iconSize;
    for (const QString &name : names) {
        if (name.isEmpty())
            continue;
        const QIcon icon = QIcon::fromTheme(name);
        if (icon.isNull())
            continue;
        const QImage drawn = icon.pixmap(QSize(size, size), 1.0).toImage();
        if (drawn.isNull())
            continue;
        QImage square(size, size, QImage::Format_ARGB32_Premultiplied);
        square.fill(Qt::transparent);
        const QImage fitted = drawn.size() == square.size()
                                  ? drawn
                                  : drawn.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&square);
        painter.drawImage((size - fitted.width()) / 2, (size - fitted.height()) / 2, fitted);
        painter.end();
        return square;
    }
    return {};
}

// Icons made, by MIME type, with the theme they came from; and whether a request to the GUI
// thread is still unanswered (then other threads do not wait for it again).
struct IconCache {
    struct Made {
        QString theme;
        QImage icon;
    };
    std::mutex mutex;
    std::condition_variable answered;
    QHash<QString, Made> icons;
    bool requestOutstanding = false;
};

IconCache &iconCache()
{
    static IconCache cache;
    return cache;
}

} // namespace

QImage OVNImportParserGenericDocument::typeIcon(const QString &extension)
{
    QImage icon(iconSize, iconSize, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal left = 22, top = 8, right = 106, bottom = 120, fold = 24;
    QPainterPath page;
    page.moveTo(left, top);
    page.lineTo(right - fold, top);
    page.lineTo(right, top + fold);
    page.lineTo(right, bottom);
    page.lineTo(left, bottom);
    page.closeSubpath();
    painter.setPen(QPen(QColor(120, 120, 120), 2));
    painter.setBrush(QColor(250, 250, 250));
    painter.drawPath(page);
    QPainterPath corner;
    corner.moveTo(right - fold, top);
    corner.lineTo(right - fold, top + fold);
    corner.lineTo(right, top + fold);
    painter.setBrush(QColor(220, 220, 220));
    painter.drawPath(corner);
    const QString label = extension.left(5).toUpper();
    if (!label.isEmpty()) {
        QFont font;
        font.setBold(true);
        font.setPixelSize(label.size() > 3 ? 18 : 24);
        painter.setFont(font);
        painter.setPen(QColor(70, 90, 140));
        painter.drawText(QRectF(left, 60, right - left, 40), Qt::AlignCenter, label);
    }
    painter.end();
    return icon;
}

QImage OVNImportParserGenericDocument::desktopIcon(const QString &path)
{
    // The MIME database may be asked from any thread.
    // The file's own bytes are read from where openRegularFile finds it (the file held for its
    // import), never by name.
    QFile file;
    const QMimeType type = FileAccess::openRegularFile(file, path)
                               ? QMimeDatabase().mimeTypeForFileNameAndData(path, &file)
                               : QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    const QString key = type.name();
    const QStringList names{type.iconName(), type.genericIconName()};
    IconCache &cache = iconCache();
    QCoreApplication *app = QCoreApplication::instance();
    if (!qobject_cast<QGuiApplication *>(app))
        return {};
    if (QThread::currentThread() == app->thread()) {
        // Here the theme can be asked which it is: an icon of another theme is made again.
        const QString theme = QIcon::themeName();
        {
            const std::lock_guard lock(cache.mutex);
            const auto found = cache.icons.constFind(key);
            if (found != cache.icons.cend() && found->theme == theme)
                return found->icon;
        }
        const QImage icon = themeIcon(names);
        const std::lock_guard lock(cache.mutex);
        cache.icons.insert(key, {theme, icon});
        return icon;
    }
    std::unique_lock lock(cache.mutex);
    if (const auto found = cache.icons.constFind(key); found != cache.icons.cend())
        return found->icon;
    if (cache.requestOutstanding)
        return {};
    cache.requestOutstanding = true;
    QMetaObject::invokeMethod(
        app,
        [key, names] {
            const QString theme = QIcon::themeName();
            const QImage icon = themeIcon(names);
            IconCache &shared = iconCache();
            const std::lock_guard done(shared.mutex);
            shared.icons.insert(key, {theme, icon});
            shared.requestOutstanding = false;
            shared.answered.notify_all();
        },
        Qt::QueuedConnection);
    cache.answered.wait_for(lock, std::chrono::milliseconds(answerWaitMs), [&] { return cache.icons.contains(key); });
    return cache.icons.value(key).icon;
}

QImage OVNImportParserGenericDocument::loadImageForFile(const QString &path, QVariantMap &record)
{
    record.insert(QStringLiteral("imagewidth"), QStringLiteral("0"));
    record.insert(QStringLiteral("imageheight"), QStringLiteral("0"));
    record.insert(QStringLiteral("Orientation"), 0);
    return typeIcon(QFileInfo(path).suffix());
}
