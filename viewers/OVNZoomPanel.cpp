#include "viewers/OVNZoomPanel.h"

#include "platform/Localized.h"
#include "platform/UserDefaults.h"
#include "uikit/OVNTransparentView.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const QString kAlphaKey = QStringLiteral("zoomPanelAlpha");
const QString kFrameKey = QStringLiteral("NSWindow Frame OVNZoomPanel");
constexpr int kSliderSteps = 100;
OVNZoomPanel *g_panel = nullptr;
} // namespace

OVNZoomPanel::OVNZoomPanel() : OVNTransparentWindow(QRect(0, 0, 320, 340))
{
    setWindowTitle(localized("Zoom"));
    setAttribute(Qt::WA_QuitOnClose, false);
    m_contentView = new OVNTransparentView;
    m_contentView->setMinimumSize(int(minimumSide), int(minimumSide));
    // The slider lies along the panel's bottom edge, clear of the resize grip in the corner; a
    // press anywhere else in the panel reaches the window and moves it.
    auto *layout = new QVBoxLayout(m_contentView);
    layout->setContentsMargins(12, 8, 12 + int(resizeCornerSide), 6);
    layout->addStretch(1);
    m_slider = new QSlider(Qt::Horizontal, m_contentView);
    m_slider->setRange(0, kSliderSteps);
    m_slider->setToolTip(localized("Transparency"));
    layout->addWidget(m_slider);
    setContentView(m_contentView);

    // Stored as "x y width height".
    const QStringList frame = UserDefaults::standard().stringForKey(kFrameKey).split(QLatin1Char(' '));
    if (frame.size() == 4 && frame[2].toInt() > 0 && frame[3].toInt() > 0) {
        setGeometry(frame[0].toInt(), frame[1].toInt(), frame[2].toInt(), frame[3].toInt());
    } else if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        // Never placed yet: the window manager does not place a frameless window, so the panel
        // starts near the screen's top-right corner rather than over the menus at its origin.
        const QRect room = screen->availableGeometry();
        move(std::max(room.left(), room.right() - width() - 40), room.top() + 60);
    }
    // A stored 0 would make the panel invisible for good.
    double alpha = UserDefaults::standard().doubleForKey(kAlphaKey);
    if (!(alpha > 0 && alpha <= 1))
        alpha = defaultAlpha;
    m_slider->setValue(qRound(alpha * kSliderSteps));
    setWindowOpacity(alpha);
    connect(m_slider, &QSlider::valueChanged, this,
            [this](int value) { transparencySliderAction(double(value) / kSliderSteps); });
    g_panel = this;
}

OVNZoomPanel::~OVNZoomPanel()
{
    if (g_panel == this)
        g_panel = nullptr;
}

OVNZoomPanel *OVNZoomPanel::instance() { return g_panel; }

void OVNZoomPanel::makeKeyAndOrderFront()
{
    show();
    raise();
    activateWindow();
}

void OVNZoomPanel::orderOut() { hide(); }

void OVNZoomPanel::setImage(const QImage &image) { m_contentView->setImage(image, 0); }

void OVNZoomPanel::setImage(const QImage &image, int rating) { m_contentView->setImage(image, rating); }

QImage OVNZoomPanel::image() const { return m_contentView->image(); }

void OVNZoomPanel::transparencySliderAction(double alpha)
{
    alpha = std::clamp(alpha, 0.0, 1.0);
    setWindowOpacity(alpha);
    const QSignalBlocker blocker(m_slider);
    m_slider->setValue(qRound(alpha * kSliderSteps));
    UserDefaults::standard().setDouble(alpha, kAlphaKey);
}

double OVNZoomPanel::alpha() const { return double(m_slider->value()) / kSliderSteps; }

void OVNZoomPanel::saveWindowPosition()
{
    const QRect frame = geometry();
    UserDefaults::standard().setString(
        QStringLiteral("%1 %2 %3 %4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height()), kFrameKey);
}
