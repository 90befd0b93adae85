#include "viewers/OVNCoreImageView.h"
#include "viewers/OVNImageView.h"

#include "platform/Localized.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace {

constexpr int kGridStep = 20;

float srgbToLinear(double v) { return float(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4)); }

QColor selectionColour() { return QColor(56, 117, 215); }

} // namespace

// One thread that renders display-size previews. A request replaces any that has not started, so
// that after a quick run of slider moves only the newest is rendered; the picture comes back
// through a queued call while the view lives.
class OVNCoreImageView::Worker
{
public:
    struct Request {
        quint64 generation = 0;
        std::shared_ptr<const OVNLinearImage> source;
        OVNAdjustValues values;
        QSize box;
    };

    explicit Worker(OVNCoreImageView *view) : m_view(view), m_thread([this] { run(); }) {}

    ~Worker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_view = nullptr;
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    void post(Request request)
    {
        {
            std::lock_guard lock(m_mutex);
            m_pending = std::move(request);
        }
        m_wake.notify_all();
    }

private:
    void run()
    {
        OVNAdjustPreviewCache cache;
        for (;;) {
            Request request;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stop || m_pending; });
                if (m_stop)
                    return;
                request = std::move(*m_pending);
                m_pending.reset();
            }
            double zoom = 1;
            const QImage image =
                cache.renderImage(request.source, request.values, request.box.width(), request.box.height(), &zoom);
            std::lock_guard lock(m_mutex);
            if (!m_view)
                return;
            // Posted under the lock, so the view cannot go away before the call is queued; Qt
            // drops the call if it goes away afterwards.
            QMetaObject::invokeMethod(
                m_view, [view = m_view, g = request.generation, image, zoom] { view->takePreview(g, image, zoom); },
                Qt::QueuedConnection);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    OVNCoreImageView *m_view;
    std::optional<Request> m_pending;
    bool m_stop = false;
    std::thread m_thread;
};

OVNCoreImageView::OVNCoreImageView(QWidget *parent) : QWidget(parent), m_worker(std::make_unique<Worker>(this))
{
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 150);
    m_document.values.whitePoint = std::array<double, 3>{1, 1, 1};
}

OVNCoreImageView::~OVNCoreImageView() = default;

void OVNCoreImageView::setCoreImage(const QImage &image)
{
    setCoreImage(std::make_shared<const OVNLinearImage>(OVNLinearImage::fromImagePacked(image)));
}

void OVNCoreImageView::setCoreImage(std::shared_ptr<const OVNLinearImage> source)
{
    m_document.setSource(std::move(source));
    m_first = m_second = QPointF();
    m_draggedBy = 0;
    updateFilter();
}

QImage OVNCoreImageView::renderedImage() const { return m_document.renderImage(); }

std::function<QImage()> OVNCoreImageView::renderJob() const
{
    return [source = m_document.sharedSource(), values = m_document.values] {
        return source ? OVNAdjustChain::renderImage(*source, values) : QImage();
    };
}

void OVNCoreImageView::setWhitePoint(const QColor &colour)
{
    if (!colour.isValid()) {
        m_document.values.whitePoint.reset();
        return;
    }
    m_document.values.whitePoint =
        std::array<double, 3>{srgbToLinear(colour.redF()), srgbToLinear(colour.greenF()), srgbToLinear(colour.blueF())};
}

void OVNCoreImageView::setShowGrid(bool on)
{
    m_showGrid = on;
    update();
}

void OVNCoreImageView::setShowLoadingTag(bool on)
{
    m_loading = on;
    update();
}

void OVNCoreImageView::setRotation(int degrees) { m_document.values.rotation = degrees; }

void OVNCoreImageView::rotateLeft()
{
    int &r = m_document.values.rotation;
    if (r == 0 || r == 90 || r == 180 || r == 270)
        r = (r + 270) % 360;
}

void OVNCoreImageView::rotateRight()
{
    int &r = m_document.values.rotation;
    if (r == 0 || r == 90 || r == 180 || r == 270)
        r = (r + 90) % 360;
}

void OVNCoreImageView::updateFilter()
{
    if (!hasImage()) {
        m_displayed = QImage();
        update();
        return;
    }
    m_worker->post({++m_requested, m_document.sharedSource(), m_document.values, size()});
}

void OVNCoreImageView::takePreview(quint64 generation, const QImage &image, double zoom)
{
    if (generation <= m_shown)
        return;
    m_shown = generation;
    m_displayed = image;
    m_zoom = zoom;
    update();
    emit previewShown();
}

bool OVNCoreImageView::waitForPreview(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (m_shown < m_requested && clock.elapsed() < timeoutMs) {
        QEventLoop loop;
        connect(this, &OVNCoreImageView::previewShown, &loop, &QEventLoop::quit);
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return m_shown >= m_requested;
}

QPointF OVNCoreImageView::imageOrigin() const
{
    // Where the current values' picture is drawn, whether or not its rendering has come back yet,
    // so that a crop always maps onto the picture it cuts.
    int w = 0, h = 0, dw = 0, dh = 0;
    OVNAdjustChain::geometricSize(m_document.source().width, m_document.source().height, m_document.values, &w, &h);
    OVNAdjustChain::fitZoom(w, h, width(), height(), &dw, &dh);
    return QPointF(width() > dw ? (width() - dw) / 2.0 : 0.0, height() > dh ? (height() - dh) / 2.0 : 0.0);
}

bool OVNCoreImageView::cropImage()
{
    if (!hasSelection() || !hasImage())
        return false;
    int w = 0, h = 0;
    OVNAdjustChain::geometricSize(m_document.source().width, m_document.source().height, m_document.values, &w, &h);
    const double zoom = OVNAdjustChain::fitZoom(w, h, width(), height());
    const QPointF origin = imageOrigin();
    // The crop only names the rectangle of the picture it cuts: its pixels are made from that
    // picture when the preview or an export reads them, on their workers.
    if (!m_document.cropToView(m_first.x(), m_first.y(), m_second.x(), m_second.y(), origin.x(), origin.y(), zoom))
        return false;
    m_first = m_second = QPointF();
    m_dragging = false;
    m_draggedBy = 0;
    updateFilter();
    return true;
}

void OVNCoreImageView::revertCropImage()
{
    m_document.revert();
    m_first = m_second = QPointF();
    m_draggedBy = 0;
}

void OVNCoreImageView::setSelection(QPointF first, QPointF second)
{
    m_first = first;
    m_second = second;
    update();
}

int OVNCoreImageView::edgeAt(QPointF p) const
{
    if (!hasSelection())
        return 0;
    const QRectF r = QRectF(m_first, m_second).normalized();
    // Strips 3 pixels across, from one pixel outside the edge, the edge's whole length.
    auto across = [](double v, double edge) { return v >= edge - 1 && v < edge + 2; };
    const bool alongY = p.y() >= r.top() && p.y() <= r.bottom();
    const bool alongX = p.x() >= r.left() && p.x() <= r.right();
    int edge = 0;
    if (alongY && across(p.x(), r.left()))
        edge = 1;
    if (alongY && across(p.x(), r.right()))
        edge = 2;
    if (alongX && across(p.y(), r.top()))
        edge = 3;
    if (alongX && across(p.y(), r.bottom()))
        edge = 4;
    return edge;
}

void OVNCoreImageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_loading) {
        QFont font(QStringLiteral("Helvetica"));
        font.setPixelSize(14);
        painter.setFont(font);
        const QString text = localized("Loading media file...");
        const QRectF box = OVNImageView::loadingTagBox(painter.fontMetrics().boundingRect(text).size(), rect());
        QPainterPath path;
        path.addRoundedRect(box, 5, 5);
        painter.fillPath(path, QColor(128, 128, 128, 77));
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter,
                         painter.fontMetrics().elidedText(text, Qt::ElideRight, int(box.width()) - 20));
        return;
    }
    if (!m_displayed.isNull()) {
        const QPointF origin(width() > m_displayed.width() ? (width() - m_displayed.width()) / 2.0 : 0.0,
                             height() > m_displayed.height() ? (height() - m_displayed.height()) / 2.0 : 0.0);
        painter.drawImage(origin, m_displayed);
    }
    const QColor accent = selectionColour();
    if (hasSelection()) {
        const QRectF sel = QRectF(m_first, m_second).normalized();
        QColor veil = accent;
        veil.setAlphaF(0.3);
        const QRectF all = rect();
        painter.fillRect(QRectF(all.left(), all.top(), all.width(), sel.top() - all.top()), veil);
        painter.fillRect(QRectF(all.left(), sel.bottom(), all.width(), all.bottom() - sel.bottom()), veil);
        painter.fillRect(QRectF(all.left(), sel.top(), sel.left() - all.left(), sel.height()), veil);
        painter.fillRect(QRectF(sel.right(), sel.top(), all.right() - sel.right(), sel.height()), veil);
        painter.setPen(accent);
        painter.drawRect(sel);
    }
    if (m_showGrid) {
        painter.setPen(accent);
        for (int x = 0; x < width(); x += kGridStep)
            painter.drawLine(x, 0, x, height());
        for (int y = 0; y < height(); y += kGridStep)
            painter.drawLine(0, y, width(), y);
    }
}

void OVNCoreImageView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateFilter();
}

void OVNCoreImageView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF p = event->position();
    // Whether the press moves an edge of the selection is decided here, from where it is.
    m_draggedBy = edgeAt(p);
    if (!m_draggedBy)
        m_first = m_second = p;
    m_dragging = true;
    update();
}

void OVNCoreImageView::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF p = event->position();
    if (!m_dragging) {
        const int edge = edgeAt(p);
        if (edge == 1 || edge == 2)
            setCursor(Qt::SizeHorCursor);
        else if (edge)
            setCursor(Qt::SizeVerCursor);
        else
            unsetCursor();
        return;
    }
    if (m_draggedBy) {
        QRectF r = QRectF(m_first, m_second).normalized();
        switch (m_draggedBy) {
        case 1:
            r.setLeft(p.x());
            break;
        case 2:
            r.setRight(p.x());
            break;
        case 3:
            r.setTop(p.y());
            break;
        case 4:
            r.setBottom(p.y());
            break;
        }
        // Dragged past the opposite edge: the edge in hand is now the other one.
        if (r.width() < 0)
            m_draggedBy = 3 - m_draggedBy;
        if (r.height() < 0)
            m_draggedBy = 7 - m_draggedBy;
        r = r.normalized();
        m_first = r.topLeft();
        m_second = r.bottomRight();
    } else {
        m_second = p;
    }
    update();
}

void OVNCoreImageView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    m_draggedBy = 0;
    update();
}
