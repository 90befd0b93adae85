#pragma once

#include <QFlags>

class NTPopUpHeaderViewCell;

// What a pane header reports while one of its grips is dragged. Both messages are optional: the
// delegate declares which it answers, and the header sends only those. The first argument is the
// header's cell, whose tag tells the headers apart. Deltas are step to step.
class NTPopUpHeaderViewDelegate
{
public:
    enum Capability {
        ResizeByWidth = 0x1,
        ResizeByHeight = 0x2,
    };
    Q_DECLARE_FLAGS(Capabilities, Capability)

    virtual ~NTPopUpHeaderViewDelegate() = default;

    virtual Capabilities headerDelegateCapabilities() const = 0;

    // Horizontal mouse movement in points, positive to the right.
    virtual void headerCellResizeViewByWidth(NTPopUpHeaderViewCell *cell, float delta)
    {
        Q_UNUSED(cell);
        Q_UNUSED(delta);
    }
    // Vertical mouse movement in points, positive upward.
    virtual void headerCellResizeViewByHeight(NTPopUpHeaderViewCell *cell, float delta)
    {
        Q_UNUSED(cell);
        Q_UNUSED(delta);
    }
};

Q_DECLARE_OPERATORS_FOR_FLAGS(NTPopUpHeaderViewDelegate::Capabilities)
