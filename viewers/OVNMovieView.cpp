#include "viewers/OVNMovieView.h"

#include "decoding/MoviePlayer.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

#include <cmath>

OVNMovieView::OVNMovieView(QWidget *parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void OVNMovieView::setMovie(MoviePlayer *player)
{
    if (m_player)
        disconnect(m_player, nullptr, this, nullptr);
    m_player = player;
    m_painted = 0;
    m_image = player ? player->currentImage() : QImage();
    if (player) {
        connect(player, &MoviePlayer::frameChanged, this, [this](const QImage &image) {
            m_image = image;
            update();
        });
        connect(player, &MoviePlayer::timeChanged, this, &OVNMovieView::refreshBar);
        connect(player, &MoviePlayer::rateChanged, this, &OVNMovieView::refreshBar);
    }
    askFrameSize();
    refreshBar();
    update();
}

void OVNMovieView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_background);
    drawPicture(painter);
    if (m_selected) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, 2));
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}

// ---- as a light-table pane ----

void OVNMovieView::drawPicture(QPainter &painter)
{
    if (m_image.isNull())
        return;
    const int barHeight = showsController() ? m_bar->height() : 0;
    const QRectF room = QRectF(rect()).adjusted(m_inset, m_inset, -m_inset, -m_inset - barHeight);
    if (room.isEmpty())
        return;
    const bool quarter = m_rotation == 90 || m_rotation == 270;
    // Fitted as turned, then drawn unturned about the centre.
    const QSizeF turnedRoom = quarter ? room.size().transposed() : room.size();
    const QSizeF fitted = m_aspectMode == Qt::KeepAspectRatio
                              ? QSizeF(m_image.size()).scaled(turnedRoom, Qt::KeepAspectRatio)
                              : turnedRoom;
    painter.save();
    painter.translate(room.center());
    painter.rotate(m_rotation);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF(-fitted.width() / 2, -fitted.height() / 2), fitted), m_image);
    painter.restore();
    ++m_painted;
}

void OVNMovieView::mousePressEvent(QMouseEvent *event)
{
    setSelected(true);
    if (m_selectionDidChange)
        m_selectionDidChange(this);
    event->accept();
}

void OVNMovieView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutBar();
    askFrameSize();
}

void OVNMovieView::askFrameSize()
{
    // Frames no larger than the view in device pixels, whichever way a pane turns them.
    if (!m_player || width() <= 0 || height() <= 0)
        return;
    const int side = int(std::ceil(std::max(width(), height()) * devicePixelRatioF()));
    m_player->setFrameBox(QSize(side, side));
}

void OVNMovieView::setShowsController(bool shows)
{
    if (shows && !m_bar) {
        m_bar = new QWidget(this);
        m_bar->setAutoFillBackground(true);
        auto *layout = new QHBoxLayout(m_bar);
        layout->setContentsMargins(4, 1, 4, 1);
        auto *play = new QToolButton(m_bar);
        play->setObjectName(QStringLiteral("play"));
        play->setAutoRaise(true);
        auto *position = new QSlider(Qt::Horizontal, m_bar);
        position->setObjectName(QStringLiteral("position"));
        position->setRange(0, 1000);
        layout->addWidget(play);
        layout->addWidget(position, 1);
        connect(play, &QToolButton::clicked, this, [this] {
            if (m_player)
                m_player->setRate(m_player->rate() == 0 ? 1.0 : 0.0);
        });
        connect(position, &QSlider::sliderMoved, this, [this](int knob) {
            if (m_player && m_player->duration().timeValue > 0)
                m_player->setCurrentTime(
                    {m_player->duration().timeValue * knob / 1000, m_player->duration().timeScale});
        });
    }
    if (m_bar) {
        m_bar->setVisible(shows);
        layoutBar();
        refreshBar();
    }
    update();
}

void OVNMovieView::layoutBar()
{
    if (m_bar)
        m_bar->setGeometry(0, height() - 22, width(), 22);
}

void OVNMovieView::refreshBar()
{
    if (!m_bar || m_bar->isHidden())
        return;
    auto *play = m_bar->findChild<QToolButton *>(QStringLiteral("play"));
    auto *position = m_bar->findChild<QSlider *>(QStringLiteral("position"));
    const bool playing = m_player && m_player->rate() != 0;
    play->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    if (!position->isSliderDown() && m_player && m_player->duration().timeValue > 0)
        position->setValue(int(1000 * m_player->currentTime().timeValue / m_player->duration().timeValue));
}
