#include "browser/OVNMediaView.h"

#include "browser/OVNPlainThumbnailRenderer.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

#include <cmath>

namespace {

QPainterPath roundedRect(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

NTTextAttributes attributes(const QString &family, bool bold, int pixelSize, QColor color, Qt::Alignment alignment)
{
    NTTextAttributes result;
    result.font = QFont(family);
    result.font.setBold(bold);
    result.font.setPixelSize(pixelSize);
    result.foregroundColor = color;
    result.alignment = alignment;
    return result;
}

} // namespace

OVNMediaView::TextAttributeSets OVNMediaView::makeTextAttributeSets()
{
    const QString helvetica = QStringLiteral("Helvetica");
    TextAttributeSets sets;
    sets.centeredTag = attributes(helvetica, true, 11, Qt::black, Qt::AlignHCenter);
    sets.centeredWhiteTag = attributes(helvetica, true, 11, Qt::white, Qt::AlignHCenter);
    sets.leftTag = attributes(helvetica, true, 11, Qt::black, Qt::AlignLeft);
    sets.printTag = attributes(helvetica, true, 9, Qt::black, Qt::AlignHCenter);
    sets.rollTag = attributes(QStringLiteral("Lucida Grande"), false, 11, Qt::white, Qt::AlignLeft);
    sets.timeTag = attributes(helvetica, true, 10, Qt::white, Qt::AlignRight);
    sets.infoTag = attributes(helvetica, true, 10, Qt::white, Qt::AlignLeft);
    sets.lineTag = attributes(helvetica, true, 10, Qt::black, Qt::AlignRight);
    sets.lineInfo = attributes(helvetica, false, 10, Qt::black, Qt::AlignLeft);
    sets.expressLeftTag = attributes(helvetica, true, 9, Qt::black, Qt::AlignLeft);
    sets.expressCenteredTag = attributes(helvetica, true, 9, Qt::black, Qt::AlignHCenter);
    sets.expressTimeTag = attributes(helvetica, true, 9, Qt::white, Qt::AlignRight);
    sets.expressInfoTag = attributes(helvetica, true, 9, Qt::white, Qt::AlignLeft);
    return sets;
}

OVNMediaView::OVNMediaView(QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_selectioncolor(QColor::fromRgbF(0.26f, 0.55f, 0.9f, 1.0f))
    , m_textAttributes(makeTextAttributeSets())
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_currentmid = QString(QLatin1String(""));
    m_thumbCreator = std::make_unique<OVNPlainThumbnailRenderer>();
    readLayoutSettings();
    m_thumbCreator->setWidth(m_thumbnailWidth);
    m_thumbCreator->setHeight(m_thumbnailHeight);
    if (!m_layoutSettings.isEmpty())
        m_thumbCreator->setLayout(m_layoutSettings.first().toMap());
    m_extensionMapper = std::make_unique<OVNExtensionMapping>();
    const qint64 limit = UserDefaults::standard().integerForKey(QStringLiteral("AssetBackgroundLoaderMaxCache"));
    m_decoded.setMaxCost(limit > 0 ? int(std::min<qint64>(limit, 1 << 20)) : 1500);
}

OVNMediaView::~OVNMediaView()
{
    // A pass on another thread must be gone before the view is: make it stop, then wait for it.
    ++m_scanThreadID;
    QMutexLocker scan(&m_scanlock);
}

// ---- configuration ----

void OVNMediaView::setDisplayType(int type)
{
    m_displaytype = type;
    m_thumbnailTitleHeight = 15;
    m_thumbnailTitleDistance = 5;
    if (type == 1) {
        m_thumbnailWidth = 130;
        m_thumbnailHeight = 140;
        m_thumbnailDistance = 3;
    } else {
        m_thumbnailDistance = 10;
    }
    resizeFrameToFitMediaContainer();
    viewport()->update();
}

void OVNMediaView::setThumbnailQuality(int quality)
{
    if (quality >= 0 && quality <= 2)
        m_thumbnailQuality = quality + 1;
}

void OVNMediaView::setThumbnailWidth(int width)
{
    m_thumbnailWidth = float(width);
    m_thumbnailHeight = float(width);
    if (m_thumbnailStyle == 3)
        m_thumbnailWidth += 300;
    m_thumbCreator->setWidth(m_thumbnailWidth);
    m_thumbCreator->setHeight(m_thumbnailHeight);
    resizeFrameToFitMediaContainer();
    viewport()->update();
}

void OVNMediaView::setThumbnailStyle(int style)
{
    if (m_thumbnailStyle == 3 && m_thumbnailWidth > 300)
        m_thumbnailWidth -= 300;
    m_thumbnailStyle = style;
    setThumbnailWidth(int(m_thumbnailWidth));
    readLayoutSettings();
    applyRendererState();
}

void OVNMediaView::readLayoutSettings()
{
    const QVariantList stored = UserDefaults::standard().arrayForKey(QStringLiteral("ThumbnailLayoutList"));
    if (!stored.isEmpty()) {
        m_layoutSettings = stored;
        return;
    }
    m_layoutSettings.clear();
    for (int i = 0; i < 3; ++i) {
        const QVariantMap layout = m_thumbCreator->builtInLayout(i);
        if (layout.isEmpty())
            break;
        m_layoutSettings.append(layout);
    }
}

void OVNMediaView::applyRendererState()
{
    if (m_thumbnailStyle < 0 || m_thumbnailStyle >= m_layoutSettings.size())
        return;
    const QVariantMap layout = m_layoutSettings.at(m_thumbnailStyle).toMap();
    m_thumbCreator->setLayout(layout);
    const QVariant background = layout.value(QStringLiteral("udfBackgroundColor"));
    if (background.typeId() == QMetaType::QVariantMap) {
        const QColor color = OVNHelper::decodeToColor(background.toMap());
        if (color.isValid())
            m_backgroundcolor = color;
    }
    viewport()->update();
}

void OVNMediaView::setThumbnailRenderer(std::unique_ptr<OVNThumbnailRenderer> renderer)
{
    if (!renderer)
        return;
    m_thumbCreator = std::move(renderer);
    m_thumbCreator->setWidth(m_thumbnailWidth);
    m_thumbCreator->setHeight(m_thumbnailHeight);
    readLayoutSettings();
    applyRendererState();
}

void OVNMediaView::setDelegate(OVNMediaViewDelegate *delegate)
{
    m_delegate = delegate;
    const OVNMediaViewDelegate::Capabilities answers = delegate ? delegate->capabilities()
                                                                : OVNMediaViewDelegate::Capabilities();
    m_delegateRespondsToThumbSelector = answers.testFlag(OVNMediaViewDelegate::ThumbnailData);
    m_delegateRespondsToSelectionDidChangeSelector = answers.testFlag(OVNMediaViewDelegate::SelectionDidChange);
    m_delegateRespondsToDoubleClickSelector = answers.testFlag(OVNMediaViewDelegate::DoubleClick);
    m_delegateRespondsToUserAuthSelector = answers.testFlag(OVNMediaViewDelegate::UserAuthorization);
}

bool OVNMediaView::delegateAnswers(OVNMediaViewDelegate::Capability capability) const
{
    switch (capability) {
    case OVNMediaViewDelegate::ThumbnailData: return m_delegateRespondsToThumbSelector;
    case OVNMediaViewDelegate::SelectionDidChange: return m_delegateRespondsToSelectionDidChangeSelector;
    case OVNMediaViewDelegate::DoubleClick: return m_delegateRespondsToDoubleClickSelector;
    case OVNMediaViewDelegate::UserAuthorization: return m_delegateRespondsToUserAuthSelector;
    default: return m_delegate && m_delegate->capabilities().testFlag(capability);
    }
}

void OVNMediaView::notifySelectionDidChange()
{
    if (m_delegate && m_delegateRespondsToSelectionDidChangeSelector)
        m_delegate->ovnMediaViewSelectionDidChange(this);
}

void OVNMediaView::setMediaContainerType(const QString &type)
{
    m_currentmediatype = type.isNull() ? QStringLiteral("C") : type;
}

// ---- drawing ----

void OVNMediaView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.fillRect(event->rect(), m_backgroundcolor);

    if (doesThumbnailLayoutNeedRecalcWithFrame(QSizeF(viewport()->size())))
        resizeFrameToFitMediaContainer();

    auto drawCenteredText = [&](const QString &text) {
        QFont font(QStringLiteral("Helvetica"));
        font.setPixelSize(12);
        painter.setFont(font);
        const QSizeF size = QFontMetricsF(font).size(0, text);
        const QRectF area = QRectF(QPointF(0, 0), QSizeF(viewport()->size()));
        const double tx = std::ceil((area.width() - size.width()) / 2);
        const double ty = std::ceil((area.height() - size.height()) / 2);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(roundedRect(QRectF(tx - 10, ty - 6, size.width() + 20, size.height() + 12), 5),
                         QColor::fromRgbF(0.6f, 0.67f, 0.77f, 1.0f));
        painter.setPen(Qt::white);
        painter.drawText(QRectF(tx, ty, size.width(), size.height()), Qt::AlignCenter, text);
    };

    if (m_mediaContainer.isEmpty()) {
        if (m_showemptysetmessage)
            drawCenteredText(localized("Empty Imageset"));
        return;
    }
    if (m_frame.width() < m_thumbnailWidth + m_thumbnailDistance) {
        drawCenteredText(localized("Thumbnails too large!"));
        return;
    }

    const QPointF offset(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QRectF exposed = QRectF(event->rect()).translated(offset);
    int first = 0;
    int last = -1;
    OVNMediaViewGeometry::rowsInSpan(exposed.top(), exposed.bottom(), m_grid.columns, count(), metrics(), &first,
                                     &last);
    painter.translate(-offset);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_thumbnailQuality > 1);
    for (int row = first; row <= last; ++row) {
        const QRectF cell = imageRect(row);
        if (!cell.intersects(exposed))
            continue;
        if (m_inLiveResize) {
            painter.setPen(Qt::lightGray);
            painter.drawRect(cell.adjusted(0.5, 0.5, -0.5, -0.5));
            continue;
        }
        const bool selected = isRowSelected(row);
        if (m_displaytype == 1) {
            const QImage roll = rollimageForRow(row, false);
            if (roll.isNull())
                continue;
            painter.drawImage(cell.topLeft(), roll);
        } else {
            const QImage image = imageForRow(row);
            if (image.isNull())
                continue;
            const MediaRecordRef record = m_mediaContainer.at(row);
            QImage rendered;
            {
                QMutexLocker draw(&m_drawlock);
                rendered = m_thumbCreator->createThumbnailForImage(image, *record);
            }
            painter.drawImage(cell.topLeft(), rendered);
        }
        if (selected) {
            painter.setPen(QPen(m_selectioncolor, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(cell.adjusted(1, 1, -1, -1));
        }
    }
}

void OVNMediaView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    resizeFrameToFitMediaContainer();
}

void OVNMediaView::scrollContentsBy(int, int)
{
    viewport()->update();
}

QImage OVNMediaView::makeRollImage(const QImage &image, const QString &title) const
{
    const int w = int(m_thumbnailWidth);
    const int h = int(m_thumbnailHeight);
    if (w <= 0 || h <= 0)
        return QImage();
    QImage roll(w, h, QImage::Format_ARGB32_Premultiplied);
    roll.fill(m_backgroundcolor);
    QPainter painter(&roll);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_thumbnailQuality > 1);
    // Sprocket holes along both edges, then the black picture area between them.
    for (int x = 2; x < w; x += 12) {
        painter.fillRect(QRectF(x, 3, 4, 6), Qt::white);
        painter.fillRect(QRectF(x, h - 7, 4, 6), Qt::white);
    }
    const QRectF area(2, 12, w, h - 24);
    painter.fillRect(area, Qt::black);
    if (!image.isNull() && image.width() > 0 && image.height() > 0) {
        const double scale = std::min(area.width() / image.width(), area.height() / image.height());
        const double drawnWidth = image.width() * scale;
        const double drawnHeight = image.height() * scale;
        const double insetX = area.width() > drawnWidth ? double(int(area.width() - drawnWidth) / 2) : 0.0;
        const double insetY = area.height() > drawnHeight ? (area.height() - drawnHeight) / 2 : 0.0;
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QRectF(2 + insetX, 12 + insetY, area.width() - 2 * insetX, area.height() - 2 * insetY),
                          image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    const NTTextAttributes &rollTag = m_textAttributes.rollTag;
    painter.setFont(rollTag.font);
    const QRectF titleRect(2, h - 10 - m_thumbnailTitleHeight, w, m_thumbnailTitleHeight);
    painter.setPen(Qt::darkGray);
    painter.drawText(titleRect.translated(2, 2), rollTag.alignment | Qt::AlignVCenter, title);
    painter.setPen(rollTag.foregroundColor.value_or(Qt::white));
    painter.drawText(titleRect, rollTag.alignment | Qt::AlignVCenter, title);
    return roll;
}

QImage OVNMediaView::rollimageForRow(int row, bool)
{
    if (!m_hasVisibleList || row < 0 || row >= count())
        return QImage();
    const QImage image = imageForRow(row);
    if (image.isNull())
        return QImage();
    return makeRollImage(image, m_mediaContainer.at(row)->field(MediaRecord::DisplayTag));
}
