#include "app/OVNSplashScreen.h"

#include "app/OVNApplicationIcon.h"
#include "platform/Localized.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace {

constexpr int kArtworkWidth = 520;
constexpr int kArtworkHeight = 300;

// The artwork: a dark gradient card with the icon, the name and the status line.
class SplashArtwork : public QWidget
{
public:
    SplashArtwork() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_QuitOnClose, false);
        setFixedSize(kArtworkWidth, kArtworkHeight);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0.0, QColor(0x2f, 0x6f, 0x9f));
        gradient.setColorAt(1.0, QColor(0x12, 0x2e, 0x4a));
        painter.setBrush(gradient);
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(rect().adjusted(1, 1, -1, -1), 18, 18);
    }
};

// The artwork window with its icon, name and version, and the status line in it.
std::unique_ptr<QWidget> makeArtwork(QLabel **status)
{
    auto window = std::make_unique<SplashArtwork>();
    auto *layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(32, 32, 32, 24);

    auto *top = new QHBoxLayout;
    auto *icon = new QLabel(window.get());
    icon->setPixmap(OVNApplicationIcon::pixmap(128));
    top->addWidget(icon);
    auto *titles = new QVBoxLayout;
    auto *name = new QLabel(QStringLiteral("Ostrevan"), window.get());
    QFont nameFont = name->font();
    nameFont.setPixelSize(44);
    nameFont.setBold(true);
    name->setFont(nameFont);
    auto *subtitle = new QLabel(localized("Digital Asset Manager"), window.get());
    QFont subtitleFont = subtitle->font();
    subtitleFont.setPixelSize(18);
    subtitle->setFont(subtitleFont);
    auto *version = new QLabel(localized("Version %1").arg(QCoreApplication::applicationVersion()), window.get());
    for (QLabel *label : {name, subtitle, version})
        label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    titles->addStretch();
    titles->addWidget(name);
    titles->addWidget(subtitle);
    titles->addWidget(version);
    titles->addStretch();
    top->addSpacing(16);
    top->addLayout(titles, 1);
    layout->addLayout(top, 1);

    QLabel *statusLine = new QLabel(window.get());
    statusLine->setStyleSheet(QStringLiteral("color: #d8e6f2; background: transparent;"));
    layout->addWidget(statusLine);

    *status = statusLine;
    return window;
}

} // namespace

OVNSplashScreen::OVNSplashScreen()
{
    m_window = makeArtwork(&m_status);
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSizeF screenSize = screen ? QSizeF(screen->geometry().size()) : QSizeF(kArtworkWidth, kArtworkHeight);
    const QPoint origin = screen ? screen->geometry().topLeft() : QPoint();
    m_window->move(origin + topLeftFor(screenSize, QSizeF(kArtworkWidth, kArtworkHeight)).toPoint());
    makeKeyAndOrderFront();
}

OVNSplashScreen::~OVNSplashScreen() = default;

QRectF OVNSplashScreen::contentRect(const QSizeF &screen, const QSizeF &artwork)
{
    return QRectF((screen.width() - artwork.width()) / 2.0, (screen.height() - artwork.height()) / 1.5, artwork.width(),
                  artwork.height());
}

QPointF OVNSplashScreen::topLeftFor(const QSizeF &screen, const QSizeF &artwork)
{
    const QRectF rect = contentRect(screen, artwork);
    return QPointF(rect.x(), screen.height() - rect.y() - rect.height());
}

void OVNSplashScreen::setStatus(const QString &status)
{
    m_status->setText(status);
    // Start-up keeps the main thread busy: draw now rather than when the event loop runs.
    m_window->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QString OVNSplashScreen::status() const { return m_status->text(); }

void OVNSplashScreen::makeKeyAndOrderFront()
{
    m_window->show();
    m_window->raise();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void OVNSplashScreen::orderOut() { m_window->hide(); }

QImage OVNSplashScreen::artworkImage()
{
    QLabel *status = nullptr;
    const std::unique_ptr<QWidget> artwork = makeArtwork(&status);
    artwork->ensurePolished();
    artwork->layout()->activate();
    QImage image(artwork->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    artwork->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}
