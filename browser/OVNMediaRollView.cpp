#include "browser/OVNMediaRollView.h"

OVNMediaRollView::OVNMediaRollView(QWidget *parent) : OVNMediaView(parent)
{
    setBackgroundColor(Qt::gray);
    setDisplayType(FilmRollDisplay);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

bool OVNMediaRollView::setMediaContainer(const MediaListRef &list)
{
    const bool shown = OVNMediaView::setMediaContainer(list);
    resizeFrameToFitMediaContainer();
    return shown;
}

void OVNMediaRollView::recalcThumbnailLayout(const QSizeF &)
{
    // One row always, also without items, so that the strip keeps a frame's height.
    setGrid({count(), 1});
}
