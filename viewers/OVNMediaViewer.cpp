#include "viewers/OVNMediaViewer.h"

#include "platform/Alert.h"
#include "platform/Localized.h"
#include "viewers/OVNMovieView.h"

#include <QAction>
#include <QBoxLayout>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kStripMaximum = 10000;

QString timeText(MovieTime t)
{
    const qint64 s = qint64(std::floor(std::max(0.0, t.seconds())));
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

OVNMediaViewer::OVNMediaViewer(QWidget *parent) : QMainWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_view = new OVNMovieView(central);
    m_view->setMovie(&m_player);
    column->addWidget(m_view, 1);

    auto *bar = new QWidget(central);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(6, 2, 6, 2);
    m_play = new QToolButton(bar);
    m_play->setText(localized("Play"));
    connect(m_play, &QToolButton::clicked, this, &OVNMediaViewer::togglePlay);
    m_strip = new QSlider(Qt::Horizontal, bar);
    m_strip->setRange(0, kStripMaximum);
    connect(m_strip, &QSlider::sliderMoved, this, [this](int knob) {
        m_player.setCurrentTime(timeForKnob(knob, m_player.duration(), m_strip->maximum()));
    });
    connect(m_strip, &QSlider::actionTriggered, this, [this](int) {
        // Clicks on the track jump the knob; the movie follows it.
        if (!m_strip->isSliderDown())
            m_player.setCurrentTime(timeForKnob(m_strip->sliderPosition(), m_player.duration(), m_strip->maximum()));
    });
    m_time = new QLabel(timeText({}), bar);
    auto *loopButton = new QToolButton(bar);
    m_loop = new QAction(localized("Loop"), this);
    m_loop->setCheckable(true);
    connect(m_loop, &QAction::toggled, this, [this](bool on) { m_player.setLooping(on); });
    loopButton->setDefaultAction(m_loop);
    auto *fullButton = new QToolButton(bar);
    fullButton->setText(localized("Full Screen"));
    connect(fullButton, &QToolButton::clicked, this, &OVNMediaViewer::toggleFullScreen);
    row->addWidget(m_play);
    row->addWidget(m_strip, 1);
    row->addWidget(m_time);
    row->addWidget(loopButton);
    row->addWidget(fullButton);
    column->addWidget(bar);
    setCentralWidget(central);

    m_ticker = new QTimer(this);
    m_ticker->setInterval(100);
    connect(m_ticker, &QTimer::timeout, this, &OVNMediaViewer::tick);
    connect(&m_player, &MoviePlayer::opened, this, &OVNMediaViewer::movieOpened);
    connect(&m_player, &MoviePlayer::failed, this, &OVNMediaViewer::movieFailed);
    connect(&m_player, &MoviePlayer::rateChanged, this, [this](double rate) {
        m_play->setText(rate == 0.0 ? localized("Play") : localized("Pause"));
    });
}

OVNMediaViewer::~OVNMediaViewer() = default;

void OVNMediaViewer::loadAndShowFile(const QString &path)
{
    setWindowTitle(QFileInfo(path).fileName());
    setWindowFilePath(path);
    resize(480, 320);
    show();
    m_player.open(path);
}

QSize OVNMediaViewer::windowSizeFor(QSize natural, int controllerHeight, QSize available)
{
    if (natural.isEmpty())
        natural = QSize(320, 240);
    QSize movie = natural;
    const QSize room(available.width(), std::max(1, available.height() - controllerHeight));
    if (movie.width() > room.width() || movie.height() > room.height())
        movie = movie.scaled(room, Qt::KeepAspectRatio);
    return {std::max(1, movie.width()), std::max(1, movie.height()) + controllerHeight};
}

int OVNMediaViewer::knobForTime(MovieTime time, MovieTime duration, int maximum)
{
    const double total = duration.seconds();
    if (total <= 0.0 || maximum <= 0)
        return 0;
    const double at = std::clamp(time.seconds() / total, 0.0, 1.0);
    return int(std::lround(at * maximum));
}

MovieTime OVNMediaViewer::timeForKnob(int knob, MovieTime duration, int maximum)
{
    if (maximum <= 0 || duration.timeScale <= 0)
        return {0, duration.timeScale > 0 ? duration.timeScale : 600};
    const double share = std::clamp(double(knob) / maximum, 0.0, 1.0);
    const qint64 value = qint64(std::llround(share * double(duration.timeValue)));
    return {std::clamp<qint64>(value, 0, duration.timeValue), duration.timeScale};
}

void OVNMediaViewer::movieOpened()
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QSize available = screen ? screen->availableGeometry().size() : QSize(1280, 800);
    const int controller = centralWidget()->layout()->itemAt(1)->widget()->sizeHint().height();
    resize(windowSizeFor(m_player.naturalSize(), controller, available - QSize(0, frameGeometry().height() - height())));
    m_ticker->start();
    tick();
    if (!m_player.hasVideo() && m_player.hasAudio() && !m_player.hasAudioOutput())
        m_time->setToolTip(localized("No audio device: the sound cannot be heard."));
    emit opened();
}

void OVNMediaViewer::movieFailed(const QString &reason)
{
    if (m_failed)
        return;
    m_failed = true;
    m_ticker->stop();
    emit loadFailed(reason);
    Alert alert{localized("The media file could not be loaded. Please check that it is still available and it's "
                          "format is supported by Ostrevan."),
                reason, {}, Alert::Style::Warning, Alert::Modality::Window, this};
    QPointer<OVNMediaViewer> self(this);
    Alerts::show(alert, [self](int) {
        if (self)
            self->close();
    });
}

void OVNMediaViewer::tick()
{
    const MovieTime now = m_player.currentTime();
    if (!m_strip->isSliderDown())
        m_strip->setValue(knobForTime(now, m_player.duration(), m_strip->maximum()));
    m_time->setText(timeText(now));
    // The check mark shows what the player does, whoever changed it.
    if (m_loop->isChecked() != m_player.isLooping()) {
        const QSignalBlocker block(m_loop);
        m_loop->setChecked(m_player.isLooping());
    }
}

void OVNMediaViewer::togglePlay()
{
    if (!m_player.isOpen())
        return;
    if (m_player.rate() == 0.0 && !m_player.isLooping()
        && m_player.currentTime().timeValue >= m_player.duration().timeValue - 1)
        m_player.setCurrentTime({0, Movie::movieTimeScale});
    m_player.setRate(m_player.rate() == 0.0 ? 1.0 : 0.0);
}

void OVNMediaViewer::toggleFullScreen()
{
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

void OVNMediaViewer::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
        togglePlay();
        return;
    case Qt::Key_Escape:
        if (isFullScreen())
            showNormal();
        return;
    case Qt::Key_F:
        toggleFullScreen();
        return;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const double step = event->key() == Qt::Key_Left ? -1.0 : 1.0;
        const MovieTime now = m_player.currentTime();
        m_player.setCurrentTime({now.timeValue + qint64(step * now.timeScale), now.timeScale});
        tick();
        return;
    }
    default:
        QMainWindow::keyPressEvent(event);
    }
}
