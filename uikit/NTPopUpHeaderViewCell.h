#pragma once

#include <QFont>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <memory>

class NTGlyphBlitter;
class NTPopUpHeaderViewDelegate;
struct NTTextAttributes;
class QImage;
class QMenu;
class QPainter;

// The drawing and grip tracking of a pane header (NTPopUpHeaderView). Grip codes: 0 no grip, 1 a
// horizontal grip whose drag reports height deltas, 2 a vertical grip whose drag reports width
// deltas; any other non-zero code drags like 1 but draws nothing. Coordinates are the header's own,
// y-down; mouse locations are global (screen) positions.
class NTPopUpHeaderViewCell
{
public:
    enum Grip { NoGrip = 0, HorizontalGrip = 1, VerticalGrip = 2 };

    static constexpr qreal titleFontSize = 10.0;
    static constexpr qreal titleInset = 3.0;
    static constexpr qreal gripSliceWidth = 11.0;
    static constexpr qreal gripHitWidth = 16.0;
    static constexpr int gripImageSide = 9;

    NTPopUpHeaderViewCell();
    ~NTPopUpHeaderViewCell();

    NTPopUpHeaderViewCell(const NTPopUpHeaderViewCell &) = delete;
    NTPopUpHeaderViewCell &operator=(const NTPopUpHeaderViewCell &) = delete;

    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    NTPopUpHeaderViewDelegate *delegate() const { return delegate_; }
    void setDelegate(NTPopUpHeaderViewDelegate *delegate) { delegate_ = delegate; }
    int leftGrip() const { return leftgrip_; }
    void setLeftGrip(int grip) { leftgrip_ = grip; }
    int rightGrip() const { return rightgrip_; }
    void setRightGrip(int grip) { rightgrip_ = grip; }
    QString title() const { return m_title; }
    void setTitle(const QString &title) { m_title = title; }
    QFont font() const { return m_font; }
    void setFont(const QFont &font) { m_font = font; }
    QMenu *menu() const;
    void setMenu(QMenu *menu);

    // Which grip a drag moves (0 none, 1 left, 2 right); the grip code being dragged.
    int trackingGrip() const { return trackinggrip_; }
    int trackingDirection() const { return trackingdirection_; }

    // Header layout: the cell frame less 3 points at each side, an 11-point slice off the right end
    // for the right grip, then one off the left end for the left grip; the rest holds the title.
    struct Slices {
        QRectF left;
        QRectF right;
        QRectF title;
    };
    static Slices slicesForCellFrame(const QRectF &cellFrame);
    // Where a grip image is drawn in its slice: its bottom 4 points above the slice's bottom.
    static QRectF gripImageRectForSlice(const QRectF &slice);

    // The grip a press at `point` in a header of `viewSize` picks: {trackinggrip, direction}. The
    // hit zones are the 16 points at each end; where they overlap the right grip wins.
    struct GripHit {
        int grip = 0;
        int direction = 0;
    };
    static GripHit gripHitAt(const QPointF &point, const QSizeF &viewSize, int leftGrip, int rightGrip);

    void drawInteriorWithFrame(QPainter &painter, const QRectF &cellFrame, const QRectF &viewBounds);

    // Starts a drag when the press hits a grip: remembers the mouse, shows the closed hand and
    // answers true. Otherwise answers false and does nothing else.
    bool startTracking(const QPointF &point, const QSizeF &viewSize, const QPointF &mouseLocation);
    // Reports the movement since the previous step to the delegate, when it answers that message.
    bool continueTracking(const QPointF &mouseLocation);
    // Ends a drag: the cursor shown at its start goes.
    void stopTracking();

    // The title's blitter for `size`, rebuilt only when the title or the size changed.
    const NTGlyphBlitter *glyphBlitter(const QString &title, const QSizeF &size);

    // Shared by every header.
    static const NTTextAttributes &attributes(const QFont &cellFont);
    static const QImage &gripImageVertical();
    static const QImage &gripImageHorizontal();

private:
    std::unique_ptr<NTGlyphBlitter> _glyphBlitter;
    QString _drawnTitle;
    NTPopUpHeaderViewDelegate *delegate_ = nullptr;
    int leftgrip_ = 0;
    int rightgrip_ = 0;
    int tag_ = 0;
    QPointF lpoint_;
    int trackinggrip_ = 0;
    int trackingdirection_ = 0;
    bool m_cursorPushed = false;
    QString m_title;
    QFont m_font;
    QPointer<QMenu> m_menu;
};
