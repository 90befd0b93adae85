#include "decoding/MediaVersions.h"

#include "decoding/MovieSource_p.h"

#include <QDir>
#include <QLibraryInfo>
#include <QtGlobal>

unsigned MediaVersions::avformatVersion()
{
    const MovieReaders *readers = movieReaders();
    return readers ? readers->avformatVersion() : 0;
}

QString MediaVersions::ffmpegVersionText()
{
    const MovieReaders *readers = movieReaders();
    return readers ? QString::fromUtf8(readers->ffmpegVersion()) : QString();
}

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
