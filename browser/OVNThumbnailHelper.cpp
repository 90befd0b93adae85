#include "browser/OVNThumbnailHelper.h"

#include "formats/OVNHelper.h"
#include "formats/OVNOrientation.h"

#include <algorithm>

namespace {

struct Rgba {
    double r, g, b, a;
};

QVariantMap color(Rgba c) { return OVNHelper::encodeColorR(c.r, c.g, c.b, c.a); }

// Values that differ between the four built-in layouts, in the order of the layouts.
struct BuiltIn {
    const char *name;
    Rgba background;
    int shadow;
    int frameDrawBackground;
    int frameFullSize;
    int layoutSelection;
    int bottomBar;
    int bottomLeft, bottomMiddle, bottomRight;
    int nameBar;
    Rgba nameBarBackground;
    Rgba nameBarFont;
    int topBar;
    int topLeft, topMiddle, topRight;
    bool listLines;
};

constexpr Rgba black{0, 0, 0, 1};
constexpr Rgba white{1, 1, 1, 1};

const BuiltIn builtIns[4] = {
    {"Contact Sheet", black, 0, 1, 1, 0, 0, 2, 0, 3, 1, black, white, 0, 7, 0, 0, false},
    {"Plain Image View", {0.88, 0.88, 0.88, 1}, 1, 0, 0, 0, 0, 2, 0, 3, 0, black, white, 0, 7, 0, 0, false},
    {"Plain Image View with Title", white, 0, 0, 0, 0, 1, 2, 0, 8, 1, white, black, 1, 3, 0, 4, false},
    {"List View", white, 0, 1, 1, 1, 0, 2, 0, 3, 0, black, white, 0, 7, 0, 0, true},
};

QString number(int value) { return QString::number(value); }

} // namespace

const char *OVNThumbnailHelper::styleName(int style)
{
    if (style >= 0 && style <= 3)
        return builtIns[style].name;
    return style == 4 ? "Compact" : "";
}

QVariantMap OVNThumbnailHelper::getLayoutForThumbnail(int index)
{
    if (index < 0 || index > 3)
        return QVariantMap();
    const BuiltIn &b = builtIns[index];
    const QVariantMap font = OVNHelper::encodeFontWithName(QStringLiteral("Helvetica-Bold"), 10.0);
    const QVariantMap barFill = color({1, 1, 1, 0.3});
    QVariantMap layout;
    layout.insert(QStringLiteral("NAME"), QString::fromLatin1(b.name));
    layout.insert(QStringLiteral("udfBackgroundColor"), color(b.background));
    layout.insert(QStringLiteral("udfEnableFrame"), number(1));
    layout.insert(QStringLiteral("udfEnableShadow"), number(b.shadow));
    layout.insert(QStringLiteral("udfShadowColor"), color(black));
    layout.insert(QStringLiteral("udfFrameBackgroundColor"), color(black));
    layout.insert(QStringLiteral("udfFrameColor"), color(black));
    layout.insert(QStringLiteral("udfFrameDrawBackground"), number(b.frameDrawBackground));
    layout.insert(QStringLiteral("udfFrameFullSize"), number(b.frameFullSize));
    layout.insert(QStringLiteral("udfEnableManualSpacing"), number(0));
    layout.insert(QStringLiteral("udfManualSpacing"), number(10));
    layout.insert(QStringLiteral("udfLayoutSelection"), number(b.layoutSelection));

    layout.insert(QStringLiteral("udfEnableBottomInfoBar"), number(b.bottomBar));
    layout.insert(QStringLiteral("udfBottomBarBGColor"), barFill);
    layout.insert(QStringLiteral("udfBottomBarFont"), font);
    layout.insert(QStringLiteral("udfBottomBarFontColor"), color(white));
    layout.insert(QStringLiteral("udfBottomBarLeft"), number(b.bottomLeft));
    layout.insert(QStringLiteral("udfBottomBarMiddle"), number(b.bottomMiddle));
    layout.insert(QStringLiteral("udfBottomBarRight"), number(b.bottomRight));

    layout.insert(QStringLiteral("udfEnableNameBar"), number(b.nameBar));
    layout.insert(QStringLiteral("udfNameBarBGColor"), color(b.nameBarBackground));
    layout.insert(QStringLiteral("udfNameBarFont"), font);
    layout.insert(QStringLiteral("udfNameBarFontColor"), color(b.nameBarFont));
    layout.insert(QStringLiteral("udfNameBarLeft"), number(0));
    layout.insert(QStringLiteral("udfNameBarMiddle"), number(1));
    layout.insert(QStringLiteral("udfNameBarRight"), number(0));

    layout.insert(QStringLiteral("udfEnableTopInfoBar"), number(b.topBar));
    layout.insert(QStringLiteral("udfTopBarBGColor"), barFill);
    layout.insert(QStringLiteral("udfTopBarFont"), font);
    layout.insert(QStringLiteral("udfTopBarFontColor"), color(white));
    layout.insert(QStringLiteral("udfTopBarLeft"), number(b.topLeft));
    layout.insert(QStringLiteral("udfTopBarMiddle"), number(b.topMiddle));
    layout.insert(QStringLiteral("udfTopBarRight"), number(b.topRight));

    if (b.listLines) {
        for (int line = 1; line <= 7; ++line)
            layout.insert(QStringLiteral("udfListLine%1").arg(line), number(line));
    }
    return layout;
}

QVariantList OVNThumbnailHelper::builtInLayouts()
{
    QVariantList layouts;
    for (int i = 0; i < 4; ++i)
        layouts.append(getLayoutForThumbnail(i));
    return layouts;
}

bool OVNThumbnailHelper::isMovieFileType(const QString &fileType)
{
    return fileType.size() >= 5 && fileType.startsWith(QLatin1String("Movie"));
}

int OVNThumbnailHelper::movieDurationSeconds(const QString &fileType)
{
    const qsizetype separator = fileType.indexOf(QLatin1Char(';'));
    if (separator < 0)
        return 0;
    const QString rest = fileType.mid(separator + 1);
    const qsizetype end = rest.indexOf(QLatin1Char(';'));
    return int(OVNHelper::leadingDouble(end < 0 ? rest : rest.left(end)));
}

QString OVNThumbnailHelper::durationText(int seconds)
{
    if (seconds <= 0)
        return QStringLiteral("");
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString OVNThumbnailHelper::uprightSizeText(const QString &width, const QString &height, const QString &orientation)
{
    int w = int(OVNHelper::leadingDouble(width.trimmed()));
    int h = int(OVNHelper::leadingDouble(height.trimmed()));
    if (w <= 0 && h <= 0)
        return QString();
    if (OVNOrientation::turnFor(orientation.trimmed().toInt()).degrees % 180 != 0)
        std::swap(w, h);
    return QStringLiteral("%1x%2").arg(w).arg(h);
}

int OVNThumbnailHelper::drawnRating(const QString &rating)
{
    return std::clamp(int(OVNHelper::leadingDouble(rating.trimmed())), 0, 5);
}
