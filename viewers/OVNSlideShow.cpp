#include "viewers/OVNSlideShow.h"

#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNImageTagParser.h"
#include "formats/OVNOrientation.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "decoding/ImageFileReader.h"
#include "viewers/OVNSlideShowView.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>

#include <algorithm>

OVNSlideShow::OVNSlideShow(QObject *parent) : QObject(parent)
{
    m_clock = new QTimer(this);
    // A coarse timer may fire a slide 5 % late: 150 ms of a 3-second slide.
    m_clock->setTimerType(Qt::PreciseTimer);
    connect(m_clock, &QTimer::timeout, this, &OVNSlideShow::slideShowTimer);
    m_loader = new OVNImageLoader(this);
    connect(m_loader, &OVNImageLoader::loaded, this, &OVNSlideShow::loaded);
}

OVNSlideShow::~OVNSlideShow() = default;

void OVNSlideShow::setFiles(const QStringList &paths)
{
    QList<Slide> slides;
    for (const QString &path : paths)
        slides.append({path, fileOrientation});
    setSlides(slides);
}

void OVNSlideShow::setSlides(const QList<Slide> &slides) { m_files = slides; }

int OVNSlideShow::orientationOfFile(const QString &path)
{
    return OVNImageTagParser().parseFileForExifInfo(path).value(QStringLiteral("Orientation")).toInt();
}

QImage OVNSlideShow::slideImage(const QString &path, const QString &processor, int orientation, QSize box)
{
    if (orientation == fileOrientation)
        orientation = orientationOfFile(path);
    const OVNOrientation::Turn turn = OVNOrientation::turnFor(orientation);
    // Decoded to fit the box as it stands once turned.
    const QSize fit = box.isValid() && turn.degrees % 180 ? box.transposed() : box;
    // A slide handed no processor is read as a plain image.
    OVNImageLoader::Request request{
        path, processor.isEmpty() ? QString::fromLatin1(FileTypeCodes::plainImage().code) : processor, 1, fit};
    // Only the screen's size crosses from the decoder, also for a camera RAW file.
    request.fittedOnly = fit.isValid();
    QImage image =
        OVNImageLoader::decode(request, FileTypeCodes::processor(request.processor).decodesAtAnySize && fit.isValid());
    if (image.isNull())
        return {};
    if (fit.isValid() && (image.width() > fit.width() || image.height() > fit.height()))
        image = OVNImageLoader::reducedToFit(image, fit);
    return OVNOrientation::turned(image, orientation);
}

void OVNSlideShow::startSlideShow()
{
    if (m_files.isEmpty()) {
        Alerts::show({localized("Slideshow cannot start"),
                      localized("Please select a section or images before starting the slideshow."),
                      {},
                      Alert::Style::Informational,
                      Alert::Modality::Application,
                      {}});
        deleteLater();
        return;
    }
    auto view = std::make_unique<OVNSlideShowView>();
    m_view = view.get();
    connect(m_view, &OVNSlideShowView::slidePainted, this, &OVNSlideShow::loadNext);
    m_window = OVNFullScreenWindow::enter(view.get(), OVNFullScreenWindow::Opacity::Translucent, this);
    if (!m_window) {
        deleteLater();
        return;
    }
    view.release();
    m_window->installEventFilter(this); // closed by the window manager: the show ends
    // Keys go to the window, which hands them to the show.
    m_window->setFocus(Qt::ActiveWindowFocusReason);
    if (!m_screenSize.isValid()) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        m_screenSize = screen ? screen->geometry().size() * screen->devicePixelRatio() : QSize(1920, 1080);
    }
    m_running = true;
    m_imageCounter = 0;
    m_shownCount = 0;
    m_skippedCount = 0;
    slideShowTimer();
    startTimer();
}

void OVNSlideShow::startTimer()
{
    // An interval of 0 keeps each slide until a key steps on.
    if (m_interval > 0)
        m_clock->start(m_interval);
}

void OVNSlideShow::restartTimer()
{
    m_clock->stop();
    slideShowTimer();
    if (m_running)
        startTimer();
}

void OVNSlideShow::stopSlideShow()
{
    if (!m_running)
        return;
    m_running = false;
    m_clock->stop();
    m_loader->cancel();
    if (m_window)
        m_window->leave();
    // Every slide it came to was a note: the show had nothing it could show.
    if (m_shownCount == 0 && m_skippedCount > 0) {
        Alerts::show({localized("The slideshow had nothing to show"),
                      m_skippedCount == 1
                          ? localized("The file could not be read as a picture.")
                          : localized("None of the %1 files could be read as a picture.").arg(m_skippedCount),
                      {},
                      Alert::Style::Informational,
                      Alert::Modality::Application,
                      {}});
    }
    emit ended();
    deleteLater();
}

void OVNSlideShow::slideShowTimer()
{
    if (!m_running)
        return;
    if (m_imageCounter >= m_files.size()) {
        stopSlideShow();
        return;
    }
    showIndex(m_imageCounter);
}

// Shows the slide at `index` when its picture is here, else waits for it; a slide that cannot be
// read is skipped for the next.
void OVNSlideShow::showIndex(int index)
{
    if (!m_running)
        return;
    if (index >= m_files.size()) {
        stopSlideShow();
        return;
    }
    if (m_view)
        m_view->setStatus(QStringLiteral("[%1 of %2]").arg(index + 1).arg(m_files.size()));
    if (m_readyIndex != index) {
        m_waiting = index;
        if (m_loadIndex != index)
            startLoad(index);
        return;
    }
    m_waiting = -1;
    const QImage image = std::exchange(m_ready, QImage());
    m_readyIndex = -1;
    m_imageCounter = index + 1;
    if (image.isNull()) {
        // A file that cannot be shown (a movie, a damaged picture) is passed over without a word:
        // the next one takes its place at once, for a whole slide's time.
        ++m_skippedCount;
        emit slideSkipped(index, m_files[index].path);
        if (m_running && m_clock->isActive())
            startTimer();
        showIndex(index + 1);
        return;
    }
    ++m_shownCount;
    if (m_view)
        m_view->setImage(image);
    emit slideShown(index, m_files[index].path);
    // The next picture is read while this one shows, but only once it is on screen: the
    // decode's work (and Qt's scaling across every core) would otherwise hold up its paint.
    // A window that does not paint (hidden) has it read a moment later all the same.
    if (m_view)
        QTimer::singleShot(prefetchDelay, this, &OVNSlideShow::loadNext);
    else
        loadNext();
}

void OVNSlideShow::loadNext()
{
    const int next = m_imageCounter;
    if (m_running && next < m_files.size() && m_waiting < 0 && m_loadIndex != next && m_readyIndex != next)
        startLoad(next);
}

void OVNSlideShow::startLoad(int index)
{
    const Slide &slide = m_files[index];
    const QString processor = OVNExtensionMapping().getProcessorForFile(slide.path);
    m_loader->setDecoder([orientation = slide.orientation, box = m_screenSize](const OVNImageLoader::Request &r, bool) {
        return slideImage(r.path, r.processor, orientation, box);
    });
    m_loadIndex = index;
    m_loader->load({slide.path, processor, 1, {}});
}

void OVNSlideShow::loaded(const OVNImageLoader::Result &result)
{
    if (result.preview || !m_running)
        return;
    m_readyIndex = std::exchange(m_loadIndex, -1);
    m_ready = result.image;
    if (m_waiting >= 0)
        showIndex(m_waiting);
}

void OVNSlideShow::ovnFullScreenWindowKeyDown(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        m_imageCounter = std::max(0, m_imageCounter - 2);
        restartTimer();
        break;
    case Qt::Key_Right:
        restartTimer();
        break;
    case Qt::Key_Home:
        m_imageCounter = 0;
        restartTimer();
        break;
    case Qt::Key_Escape:
        stopSlideShow();
        break;
    default:
        break;
    }
}

bool OVNSlideShow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close && m_window && watched == m_window.get())
        stopSlideShow();
    return QObject::eventFilter(watched, event);
}

void OVNSlideShow::ovnFullScreenWindowMouseDown(QMouseEvent *) { stopSlideShow(); }
