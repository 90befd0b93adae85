#include "uikit/DrawingKit.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>

#include <algorithm>
#include <cmath>

namespace DrawingKit {

void installApplicationStyle()
{
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(fusion);
        QApplication::setPalette(fusion->standardPalette());
    }
    // The desktop's size, our face: a "Sans Serif" resolved by fontconfig varies by machine.
    QFont font = QApplication::font();
    font.setFamily(defaultFontFamily());
    QApplication::setFont(font);
}

QColor whiteColor() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 1.0f); }
QColor blackColor() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 1.0f); }
QColor clearColor() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.0f); }
QColor lightGrayColor() { return QColor::fromRgbF(2.0f / 3.0f, 2.0f / 3.0f, 2.0f / 3.0f, 1.0f); }
QColor grayColor() { return QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f); }
QColor darkGrayColor() { return QColor::fromRgbF(1.0f / 3.0f, 1.0f / 3.0f, 1.0f / 3.0f, 1.0f); }
QColor controlShadowColor() { return QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f); }
QColor controlTextColor() { return blackColor(); }
QColor disabledControlTextColor() { return QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f); }
QColor selectedControlColor() { return QColor::fromRgbF(0.71f, 0.835f, 1.0f, 1.0f); }

QString defaultFontFamily() { return QStringLiteral("DejaVu Sans"); }

QString installedFamily(const QString &family)
{
    const QString name = family.trimmed();
    // PostScript names ("Helvetica-Bold") and faces ("Helvetica Neue") count as their family.
    for (const char *narrow : {"Helvetica", "Arial"}) {
        if (name.startsWith(QLatin1String(narrow), Qt::CaseInsensitive))
            return QStringLiteral("DejaVu Sans Condensed");
    }
    for (const char *system : {"Lucida Grande", "LucidaGrande", "Geneva", ".AppleSystemUIFont", "System Font"}) {
        if (name.startsWith(QLatin1String(system), Qt::CaseInsensitive))
            return defaultFontFamily();
    }
    return name.isEmpty() ? defaultFontFamily() : family;
}

QFont withInstalledFamily(QFont font)
{
    const QString family = installedFamily(font.family());
    if (family != font.family())
        font.setFamily(family);
    return font;
}

QFont pixelFont(int pixelSize, bool bold, const QString &family)
{
    QFont font(installedFamily(family));
    font.setPixelSize(std::max(1, pixelSize));
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFont systemFont(int pixelSize) { return pixelFont(pixelSize); }
QFont boldSystemFont(int pixelSize) { return pixelFont(pixelSize, true); }
QFont labelFont(int pixelSize) { return pixelFont(pixelSize); }

std::vector<QColor> steppedGradientRows(const QColor &start, const QColor &end, int rows)
{
    std::vector<QColor> result;
    if (rows < 1)
        return result;
    result.reserve(static_cast<size_t>(rows));
    float r = start.redF(), g = start.greenF(), b = start.blueF(), a = start.alphaF();
    const float n = static_cast<float>(rows);
    const float dr = (end.redF() - r) / n;
    const float dg = (end.greenF() - g) / n;
    const float db = (end.blueF() - b) / n;
    const float da = (end.alphaF() - a) / n;
    for (int i = 0; i < rows; ++i) {
        result.push_back(QColor::fromRgbF(std::clamp(r, 0.0f, 1.0f), std::clamp(g, 0.0f, 1.0f),
                                          std::clamp(b, 0.0f, 1.0f), std::clamp(a, 0.0f, 1.0f)));
        r += dr;
        g += dg;
        b += db;
        a += da;
    }
    return result;
}

void fillSteppedGradient(QPainter &painter, const QRectF &bounds, const QColor &start, const QColor &end,
                         RowOrder order)
{
    const int rows = static_cast<int>(bounds.height());
    const std::vector<QColor> colors = steppedGradientRows(start, end, rows);
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (int i = 0; i < rows; ++i) {
        const qreal y = order == RowOrder::TopDown ? bounds.y() + i : bounds.bottom() - 1 - i;
        painter.fillRect(QRectF(bounds.x(), y, bounds.width(), 1.0), colors[size_t(i)]);
    }
    painter.restore();
}

void fillMirroredGradient(QPainter &painter, const QRectF &bounds, const QColor &edge, const QColor &middle)
{
    const int rows = static_cast<int>(bounds.height() / 2.0);
    const std::vector<QColor> colors = steppedGradientRows(edge, middle, rows);
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (int i = 0; i < rows; ++i) {
        painter.fillRect(QRectF(bounds.x(), bounds.y() + i, bounds.width(), 1.0), colors[size_t(i)]);
        painter.fillRect(QRectF(bounds.x(), bounds.bottom() - i - 1, bounds.width(), 1.0), colors[size_t(i)]);
    }
    painter.restore();
}

QColor haloColor(const QColor &labelColor)
{
    if (!labelColor.isValid() || labelColor.alphaF() <= 0 || labelColor.lightnessF() < 0.5f)
        return QColor();
    return QColor::fromRgbF(0, 0, 0, 0.7f * labelColor.alphaF());
}

void drawLabel(QPainter &painter, const QRectF &rect, int flags, const QString &text, const QColor &color)
{
    if (text.isEmpty())
        return;
    painter.save();
    if (const QColor halo = haloColor(color); halo.isValid()) {
        painter.setPen(halo);
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                if (dx != 0 || dy != 0)
                    painter.drawText(rect.translated(dx, dy), flags, text);
            }
        }
    }
    painter.setPen(color);
    painter.drawText(rect, flags, text);
    painter.restore();
}

void frameRect(QPainter &painter, const QRectF &rect, const QColor &color)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    const qreal w = rect.width(), h = rect.height();
    painter.fillRect(QRectF(rect.x(), rect.y(), w, std::min<qreal>(1.0, h)), color);
    if (h > 1.0)
        painter.fillRect(QRectF(rect.x(), rect.bottom() - 1.0, w, 1.0), color);
    if (h > 2.0) {
        painter.fillRect(QRectF(rect.x(), rect.y() + 1.0, std::min<qreal>(1.0, w), h - 2.0), color);
        if (w > 1.0)
            painter.fillRect(QRectF(rect.right() - 1.0, rect.y() + 1.0, 1.0, h - 2.0), color);
    }
}

QRectF flippedRect(const QRectF &rect, qreal containerHeight)
{
    return QRectF(rect.x(), containerHeight - rect.y() - rect.height(), rect.width(), rect.height());
}

QPointF flippedPoint(const QPointF &point, qreal containerHeight)
{
    return QPointF(point.x(), containerHeight - point.y());
}

int shadowMargin(qreal blurRadius) { return static_cast<int>(std::ceil(blurRadius * 2.0)) + 1; }

namespace {
// One horizontal and one vertical running-sum box blur over an alpha plane.
void boxBlur(std::vector<float> &plane, int width, int height, int radius)
{
    if (radius < 1)
        return;
    std::vector<float> line(size_t(std::max(width, height)));
    const float scale = 1.0f / float(2 * radius + 1);
    for (int y = 0; y < height; ++y) {
        float sum = 0;
        for (int x = -radius; x <= radius; ++x)
            sum += (x >= 0 && x < width) ? plane[size_t(y * width + x)] : 0.0f;
        for (int x = 0; x < width; ++x) {
            line[size_t(x)] = sum * scale;
            const int out = x - radius, in = x + radius + 1;
            if (out >= 0)
                sum -= plane[size_t(y * width + out)];
            if (in < width)
                sum += plane[size_t(y * width + in)];
        }
        std::copy_n(line.begin(), width, plane.begin() + y * width);
    }
    for (int x = 0; x < width; ++x) {
        float sum = 0;
        for (int y = -radius; y <= radius; ++y)
            sum += (y >= 0 && y < height) ? plane[size_t(y * width + x)] : 0.0f;
        for (int y = 0; y < height; ++y) {
            line[size_t(y)] = sum * scale;
            const int out = y - radius, in = y + radius + 1;
            if (out >= 0)
                sum -= plane[size_t(out * width + x)];
            if (in < height)
                sum += plane[size_t(in * width + x)];
        }
        for (int y = 0; y < height; ++y)
            plane[size_t(y * width + x)] = line[size_t(y)];
    }
}
} // namespace

QImage softShadow(const QImage &alphaMask, qreal blurRadius, const QColor &color)
{
    if (alphaMask.isNull())
        return QImage();
    const int margin = shadowMargin(blurRadius);
    const QImage source = alphaMask.convertToFormat(QImage::Format_ARGB32);
    const int width = source.width() + 2 * margin, height = source.height() + 2 * margin;
    std::vector<float> plane(size_t(width) * size_t(height), 0.0f);
    for (int y = 0; y < source.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        for (int x = 0; x < source.width(); ++x)
            plane[size_t((y + margin) * width + x + margin)] = float(qAlpha(row[x])) / 255.0f;
    }
    // Three box passes come close to a Gaussian of the same radius.
    const int box = std::max(1, static_cast<int>(std::lround(blurRadius / 1.5)));
    for (int pass = 0; pass < 3; ++pass)
        boxBlur(plane, width, height, box);

    QImage shadow(width, height, QImage::Format_ARGB32_Premultiplied);
    shadow.setDevicePixelRatio(alphaMask.devicePixelRatio());
    const float baseAlpha = float(color.alphaF());
    for (int y = 0; y < height; ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(shadow.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const float a = std::clamp(plane[size_t(y * width + x)] * baseAlpha, 0.0f, 1.0f);
            row[x] = qPremultiply(qRgba(color.red(), color.green(), color.blue(), int(a * 255.0f + 0.5f)));
        }
    }
    return shadow;
}

} // namespace DrawingKit
