#include "viewers/OVNMovieView.h"

#include "platform/MoviePlayer.h"

#include <QPainter>

OVNMovieView::OVNMovieView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

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
    }
    update();
}

void OVNMovieView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_image.isNull())
        return;
    const QSize fitted = m_image.size().scaled(size(), m_aspectMode);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_image);
    ++m_painted;
}
