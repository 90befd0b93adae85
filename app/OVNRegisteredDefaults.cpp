#include "app/OVNRegisteredDefaults.h"

#include <algorithm>
#include <cmath>

namespace {

// The catalog window's category column and preview pane together.
constexpr int kSideColumnsWidth = 570;

QString wholeNumber(double value)
{
    // "%.0f": rounded half away from zero, never "-0".
    const double rounded = std::round(value);
    return QString::number(rounded == 0.0 ? 0.0 : rounded, 'f', 0);
}

} // namespace

QRectF OVNRegisteredDefaults::defaultWindowFrame(const QRectF &visibleFrame)
{
    QRectF frame = visibleFrame;
    if (visibleFrame.width() > 1024) {
        frame.setX(150);
        frame.setWidth(visibleFrame.width() - 300);
    }
    if (visibleFrame.height() > 768) {
        frame.setY(150);
        frame.setHeight(visibleFrame.height() - 130);
    }
    return frame;
}

QString OVNRegisteredDefaults::windowFrameString(const QRectF &windowFrame, const QRectF &visibleFrame)
{
    const double values[] = {windowFrame.x(),  windowFrame.y(),  windowFrame.width(),  windowFrame.height(),
                             visibleFrame.x(), visibleFrame.y(), visibleFrame.width(), visibleFrame.height()};
    QStringList parts;
    for (double value : values)
        parts.append(wholeNumber(value));
    return parts.join(QLatin1Char(' '));
}

int OVNRegisteredDefaults::mediaViewWidth(const QRectF &windowFrame)
{
    return int(windowFrame.width()) - kSideColumnsWidth;
}

int OVNRegisteredDefaults::thumbnailSize(const QRectF &windowFrame)
{
    const int size = int(mediaViewWidth(windowFrame) / 5.0);
    return std::clamp(size, minimumThumbnailSize, maximumStartupThumbnailSize);
}

QVariantMap OVNRegisteredDefaults::startupDefaults(const QRectF &visibleFrame)
{
    const QRectF frame = defaultWindowFrame(visibleFrame);
    QVariantMap defaults;
    const auto text = [&defaults](const char *key, const char *value) {
        defaults.insert(QString::fromLatin1(key), QString::fromLatin1(value));
    };
    text("WorkflowPanelVisible", "1");
    text("ImageThumbnailQuality", "1");
    text("ImageScanForEXIF", "1");
    text("ImageScanForIPTC", "0");
    text("MovieThumbnailType", "1");
    text("MovieThumbnailTiming1", "10");
    text("MovieThumbnailTiming2", "40");
    text("MovieThumbnailTiming3", "60");
    text("MovieThumbnailTiming4", "90");
    text("AssetThumbnailQuality", "2");
    text("AssetBackgroundLoader", "1");
    text("AssetBackgroundLoaderMaxCache", "1500");
    text("DefaultImageViewer", "0");
    text("DefaultMovieViewer", "0");
    text("AutostartMoviesWithViewer", "1");
    text("StartupUpdateCheck", "1");
    text("StartupUpdateCheckPeriod", "1");
    text("DBVendor", "OstrevanWS");
    text("DBHost", "localhost");
    text("DBUser", "ostrevan");
    text("DBPassword", "plindroves");
    text("DBDatabase", "mediadb");
    text("ShowCountOnFilmRolls", "1");
    text("ShowCountOnImageSets", "1");
    text("ShowCountOnLightTables", "1");
    text("ShowCountOnSurveillanceFolders", "1");
    text("LightTableShowThumbnails", "1");
    // No server is asked about updates until the user names one.
    text("UpdateCheckURL", "");
    defaults.insert(QStringLiteral("NSWindow Frame OVNAssetManager"), windowFrameString(frame, visibleFrame));
    defaults.insert(QStringLiteral("OVNAssetManagerCategoryWidth"), qint64(200));
    defaults.insert(QStringLiteral("OVNAssetManagerMediaViewWidth"), qint64(mediaViewWidth(frame)));
    defaults.insert(QStringLiteral("OVNAssetManagerPreviewHeight"), qint64(250));
    defaults.insert(QStringLiteral("ThumbnailSize"), qint64(thumbnailSize(frame)));
    defaults.insert(QStringLiteral("ThumbnailStyle"), qint64(2));
    return defaults;
}
