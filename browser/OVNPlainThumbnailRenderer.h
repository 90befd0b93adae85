#pragma once

#include "browser/OVNThumbnailRenderer.h"

// A plain cell: the thumbnail scaled into the area above a one-line title. Stands in until the
// layout-driven renderer takes over; it ignores layouts.
class OVNPlainThumbnailRenderer : public OVNThumbnailRenderer
{
public:
    void setWidth(float width) override { m_width = width; }
    void setHeight(float height) override { m_height = height; }
    void setLayout(const QVariantMap &) override {}
    QImage createThumbnailForImage(const QImage &image, const MediaRecord &record) override;
    QVariantMap builtInLayout(int) const override { return QVariantMap(); }

    float width() const { return m_width; }
    float height() const { return m_height; }

private:
    float m_width = 100;
    float m_height = 140;
};
