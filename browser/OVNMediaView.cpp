#include "browser/OVNMediaView.h"

#include "browser/OVNThumbnail.h"
#include "browser/OVNThumbnailLayoutList.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"
#include "uikit/DrawingKit.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

#include <cmath>

namespace {

NTTextAttributes attributes(const QString &family, bool bold, int pixelSize, QColor color, Qt::Alignment alignment)
{
    NTTextAttributes result;
    result.font = QFont(DrawingKit::installedFamily(family));
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
    : QAbstractScrollArea(parent),
      m_selectioncolor(QColor::fromRgbF(0.26f, 0.55f, 0.9f, 1.0f)),
      m_textAttributes(makeTextAttributeSets())
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_currentmid = QString(QLatin1String(""));
    m_thumbCreator = std::make_unique<OVNThumbnail>();
    readLayoutSettings();
    m_thumbCreator->setWidth(m_thumbnailWidth);
    m_thumbCreator->setHeight(m_thumbnailHeight);
    if (!m_layoutSettings.isEmpty())
        m_thumbCreator->setLayout(m_layoutSettings.first().toMap());
    m_extensionMapper = std::make_unique<OVNExtensionMapping>();
    const qint64 limit = UserDefaults::standard().integerForKey(QStringLiteral("AssetBackgroundLoaderMaxCache"));
    m_preferredCacheEntries = qsizetype(limit > 0 ? std::min<qint64>(limit, 1 << 20) : 1500);
    applyThumbnailCacheLimits();
    // A few screens of drawn cells (KiB): scrolling back and forth redraws nothing.
    m_renderedCells.setMaxCost(48 * 1024);
}

OVNMediaView::~OVNMediaView()
{
    // A pass on another thread must be gone before the view is: make it stop, then wait for it.
    ++m_scanThreadID;
    QMutexLocker scan(&m_scanlock);
    // Records shared with other windows outlive the view: what it fetched into them goes with it.
    QMutexLocker draw(&m_drawlock);
    m_thumbnails.clear();
}

// ---- configuration ----

void OVNMediaView::setDisplayType(int type)
{
    m_displaytype = type;
    m_thumbnailTitleHeight = 15;
    m_thumbnailTitleDistance = 5;
    if (type == FilmRollDisplay) {
        m_thumbnailWidth = 130;
        m_thumbnailHeight = 140;
        m_thumbnailDistance = 3;
    } else {
        m_thumbnailDistance = 10;
    }
    invalidateRenderedCells();
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
    if (m_thumbnailStyle == ListStyle)
        m_thumbnailWidth += 300;
    m_thumbCreator->setWidth(m_thumbnailWidth);
    m_thumbCreator->setHeight(m_thumbnailHeight);
    invalidateRenderedCells();
    resizeFrameToFitMediaContainer();
    viewport()->update();
}

void OVNMediaView::setThumbnailStyle(int style)
{
    if (m_thumbnailStyle == ListStyle && m_thumbnailWidth > 300)
        m_thumbnailWidth -= 300;
    m_thumbnailStyle = style;
    setThumbnailWidth(int(m_thumbnailWidth));
    readLayoutSettings();
    applyRendererState();
}

void OVNMediaView::readLayoutSettings()
{
    // The shared reading repairs what a hand-edited or damaged list holds; a layout it could not
    // read comes from the renderer's own built-in ones, as when nothing is stored.
    const OVNLayoutListReading reading = OVNThumbnailLayoutList::read(UserDefaults::standard());
    m_layoutSettings.clear();
    for (int i = 0; i < reading.layouts.size(); ++i) {
        const QVariantMap layout = reading.fromStore.at(i) ? reading.layouts.at(i).toMap()
                                                           : m_thumbCreator->builtInLayout(i);
        if (layout.isEmpty() && !reading.fromStore.at(i))
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
    invalidateRenderedCells();
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
    invalidateRenderedCells();
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
    case OVNMediaViewDelegate::ThumbnailData:
        return m_delegateRespondsToThumbSelector;
    case OVNMediaViewDelegate::SelectionDidChange:
        return m_delegateRespondsToSelectionDidChangeSelector;
    case OVNMediaViewDelegate::DoubleClick:
        return m_delegateRespondsToDoubleClickSelector;
    case OVNMediaViewDelegate::UserAuthorization:
        return m_delegateRespondsToUserAuthSelector;
    default:
        return m_delegate && m_delegate->capabilities().testFlag(capability);
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
