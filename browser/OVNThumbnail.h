#pragma once

#include "browser/OVNCellFields.h"
#include "browser/OVNThumbnailRenderer.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QVariantMap>

#include <memory>

class OVNExtensionMapping;
class QPainter;

// The thumbnail cell renderer: turns one picture and one media record into the finished image of
// one cell, composed as a thumbnail layout dictionary says (background, frame fill, the fitted
// picture with an optional drop shadow, frame line, top and bottom info bars over the picture, the
// name bar, and for the list layout a panel of labelled lines beside the picture).
//
// The layout is decoded once, in setLayout(); drawing a cell only reads the decoded fields and the
// record. The cell is designed with its origin at the bottom left and y growing upward, as the
// stored layouts were made; the geometry below keeps those numbers and the drawing converts them.
class OVNThumbnail : public OVNThumbnailRenderer
{
public:
    // The rectangles of one cell, y up from the cell's bottom edge.
    struct Geometry {
        QRectF area;    // A: where the picture may go
        QRectF fitted;  // F: the picture, fitted into A
        QRectF frame;   // R: the frame line (A or F)
        QRectF nameBar; // N
        QRectF topBar;
        QRectF bottomBar;
        QRectF listPanel; // only for the list layout
    };

    OVNThumbnail();
    ~OVNThumbnail() override;

    void setWidth(float width) override { m_width = width; }
    void setHeight(float height) override { m_height = height; }
    float width() const { return m_width; }
    float height() const { return m_height; }
    void setLayout(const QVariantMap &layout) override;
    QVariantMap layout() const { return m_layout; }
    QImage createThumbnailForImage(const QImage &image, const MediaRecord &record) override;
    QVariantMap builtInLayout(int index) const override;

    // The cell's rectangles for a picture of that size at the current size and layout.
    Geometry geometryForPicture(const QSizeF &picture) const;

    // The picture fitted into an area, keeping its proportions (floors as the cells always did;
    // a narrower picture is centred from the cell's left edge, not from the area's).
    static QRectF fitPicture(const QRectF &area, const QSizeF &picture);
    // Rating square `index` (from 0) of a marker in a bar rectangle (y up) with an alignment code
    // (0 left, 1 right, 2 centre), where the bar leaves it room.
    static QRectF ratingSquare(const QRectF &rect, int alignment, int index);
    // Left edge of the movie symbol in a bar rectangle for an alignment code.
    static qreal movieSymbolX(const QRectF &rect, int alignment);

    // One bar field's text for a field code ("" for the codes that draw no text).
    static QString barFieldText(int code, const MediaRecord &record);
    // The list panel's line title and value for a list field code.
    static QString titleForTag(int code);
    QString infoForTag(int code, const MediaRecord &record) const;

    // Every field of the cell's bars and list lines as it is drawn for a picture of that size (y
    // down from the cell's top left): each lies whole inside the cell, none over another, and
    // what gave way (cut short, or not shown) answers its whole text as the tooltip.
    QList<OVNCellField> cellFields(const QSizeF &picture, const MediaRecord &record) const;
    QString cutShortTextAt(const QPointF &point, const QSizeF &picture, const MediaRecord &record) const override;

    // Decoded layout values (read by tests and the layout preview).
    int layoutSelection() const { return m_udfLayoutSelection; }
    qreal nameBarHeight() const { return m_nameBar.height; }
    qreal topBarHeight() const { return m_topBar.height; }
    qreal bottomBarHeight() const { return m_bottomBar.height; }
    QColor backgroundColor() const { return m_udfBackgroundColor; }

private:
    struct Bar {
        bool enabled = false;
        QFont font;
        qreal height = 0;
        QColor background;
        QColor fontColor;
        int left = 0;
        int middle = 0;
        int right = 0;
    };

    // One row of fields as drawn (y down): a bar, the rating's row of its own beside a bar too
    // narrow for both, a list line's title or value.
    struct FieldRow {
        QRectF rect;
        bool filled = false;
        QColor background;
        QColor color;
        QList<OVNCellField> fields;
    };
    QList<FieldRow> fieldRows(const Geometry &g, const MediaRecord &record) const;
    QList<OVNCellField> barFields(const Bar &bar, const MediaRecord &record) const;
    void drawShadow(QPainter &painter, const QRectF &target) const;

    float m_width = 80;
    float m_height = 80;
    QVariantMap m_layout;
    std::unique_ptr<OVNExtensionMapping> m_extensionMapper;

    QColor m_udfBackgroundColor;
    QColor m_udfFrameBackgroundColor;
    QColor m_udfShadowColor;
    QColor m_udfFrameColor;
    int m_udfLayoutSelection = 0;
    bool m_udfFrameFullSize = false;
    bool m_udfEnableFrame = false;
    bool m_udfFrameDrawBackground = false;
    bool m_udfEnableShadow = false;
    Bar m_topBar;
    Bar m_bottomBar;
    Bar m_nameBar;
    int m_udfListLine[7] = {0, 0, 0, 0, 0, 0, 0};

    // The blurred shadow of a picture depends only on its size: most pictures of a catalog share a
    // few sizes, so it is made once per size.
    mutable QHash<quint64, QImage> m_shadowCache;
};
