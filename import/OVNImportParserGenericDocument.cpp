// The type icon of documents.

#include "import/OVNImportParserGenericDocument.h"

#include <QFileInfo>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

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

QImage OVNImportParserGenericDocument::loadImageForFile(const QString &path, QVariantMap &record)
{
    record.insert(QStringLiteral("imagewidth"), QStringLiteral("0"));
    record.insert(QStringLiteral("imageheight"), QStringLiteral("0"));
    record.insert(QStringLiteral("Orientation"), 0);
    return typeIcon(QFileInfo(path).suffix());
}
