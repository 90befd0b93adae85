#pragma once

#include <QColor>
#include <QFont>

#include <optional>

// The text attributes a label is laid out and drawn with: its font, an optional foreground colour
// (black when none), the paragraph's alignment and whether a line too long for its width is cut
// with an ellipsis (the header titles cut in the middle).
struct NTTextAttributes {
    QFont font;
    std::optional<QColor> foregroundColor;
    Qt::Alignment alignment = Qt::AlignLeft;
    Qt::TextElideMode truncation = Qt::ElideNone;

    bool operator==(const NTTextAttributes &other) const = default;
};
