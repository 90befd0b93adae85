#pragma once

#include <QImage>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QVariantMap>

class MediaRecord;

// The cell renderer of the thumbnail view: told the cell size and the layout of the current style,
// it draws one item's cell (thumbnail, title, badges) into a new image of the cell size, which the
// view places at the cell and frames when selected.
class OVNThumbnailRenderer
{
public:
    virtual ~OVNThumbnailRenderer() = default;

    virtual void setWidth(float width) = 0;
    virtual void setHeight(float height) = 0;
    // A ThumbnailLayout dictionary.
    virtual void setLayout(const QVariantMap &layout) = 0;
    // A new image of the cell size with the cell drawn; `image` may be null (no thumbnail yet).
    virtual QImage createThumbnailForImage(const QImage &image, const MediaRecord &record) = 0;
    // The built-in layout 0 to 3, used when the user has none stored; empty when the renderer has
    // no layouts of its own.
    virtual QVariantMap builtInLayout(int index) const = 0;
    // The whole of a text drawn cut short at a point of the cell (y down from its top left) for a
    // picture of that size; empty where none is.
    virtual QString cutShortTextAt(const QPointF &, const QSizeF &, const MediaRecord &) const { return QString(); }
};
