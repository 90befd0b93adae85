#pragma once

#include "browser/OVNMediaView.h"

// The thumbnail view as one strip of film frames: every item in one row, one column each, item i
// at x = 3 + 133 i, scrolling sideways; the light table's roll. It never wraps, whatever its width.
class OVNMediaRollView : public OVNMediaView
{
    Q_OBJECT

public:
    explicit OVNMediaRollView(QWidget *parent = nullptr);

    // Shows the list and fits the strip to it.
    bool setMediaContainer(const MediaListRef &list);
    void recalcThumbnailLayout(const QSizeF &frame) override;
};
