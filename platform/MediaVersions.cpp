#include "platform/MediaVersions.h"

#include <QDir>
#include <QLibraryInfo>
#include <QtGlobal>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

unsigned MediaVersions::avformatVersion() { return avformat_version(); }

QString MediaVersions::ffmpegVersionText() { return QString::fromUtf8(av_version_info()); }

QString MediaVersions::qtMultimediaVersionText() { return QString::fromLatin1(qVersion()); }

QStringList MediaVersions::multimediaBackends()
{
    QStringList folders;
    const QString pluginPaths = qEnvironmentVariable("QT_PLUGIN_PATH");
    for (const QString &folder : pluginPaths.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders.append(folder);
    folders.append(QLibraryInfo::path(QLibraryInfo::PluginsPath));

    QStringList backends;
    for (const QString &folder : std::as_const(folders)) {
        const QDir dir(folder + QStringLiteral("/multimedia"));
        for (const QString &plugin : dir.entryList({QStringLiteral("*.so")}, QDir::Files)) {
            if (!backends.contains(plugin))
                backends.append(plugin);
        }
    }
    return backends;
}
