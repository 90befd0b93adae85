// PDF documents as movies: page n is the frame from second n to second n + 1.

#include "platform/MovieSource_p.h"

#include <poppler-qt6.h>

#include <cmath>
#include <mutex>

namespace {

void silencePoppler()
{
    static std::once_flag once;
    std::call_once(once, [] { Poppler::setDebugErrorFunction([](const QString &, const QVariant &) {}, QVariant()); });
}

class PdfSource final : public Movie::Source
{
public:
    bool open(const QString &path, QString *error);

    Movie::Kind kind() const override { return Movie::Kind::Document; }
    MovieTime duration() const override
    {
        return MovieTime{qint64(m_document->numPages()) * Movie::movieTimeScale, Movie::movieTimeScale};
    }
    QSize naturalSize() const override { return m_naturalSize; }
    QImage frameImageAtTime(MovieTime time, QSize size) override;

private:
    std::unique_ptr<Poppler::Document> m_document;
    QSize m_naturalSize;
};

// A page's size in points, one pixel each.
QSize pagePixels(const Poppler::Page &page)
{
    const QSizeF points = page.pageSizeF();
    return QSize(std::max(1, int(std::lround(points.width()))), std::max(1, int(std::lround(points.height()))));
}

bool PdfSource::open(const QString &path, QString *error)
{
    silencePoppler();
    m_document = Poppler::Document::load(path);
    if (!m_document || m_document->isLocked() || m_document->numPages() <= 0) {
        if (error)
            *error = QStringLiteral("the PDF document cannot be read");
        return false;
    }
    const std::unique_ptr<Poppler::Page> first = m_document->page(0);
    if (!first)
        return false;
    m_naturalSize = pagePixels(*first);
    m_document->setRenderHint(Poppler::Document::Antialiasing);
    m_document->setRenderHint(Poppler::Document::TextAntialiasing);
    return true;
}

QImage PdfSource::frameImageAtTime(MovieTime time, QSize size)
{
    const int pages = m_document->numPages();
    const double second = std::floor(time.seconds());
    const int index = second < 0 ? 0 : second >= pages ? pages - 1 : int(second);
    const std::unique_ptr<Poppler::Page> page = m_document->page(index);
    if (!page)
        return {};
    const QSize natural = pagePixels(*page);
    if (size.isEmpty())
        size = natural;
    // Pages are refused beyond 16384 pixels a side or 100 megapixels, as a damaged page box can claim anything.
    if (size.width() > 16384 || size.height() > 16384 || qint64(size.width()) * size.height() > 100'000'000)
        return {};
    const double xres = 72.0 * size.width() / natural.width();
    const double yres = 72.0 * size.height() / natural.height();
    QImage image = page->renderToImage(xres, yres);
    if (!image.isNull() && image.size() != size)
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace

std::unique_ptr<Movie::Source> openPdfMovieSource(const QString &path, QString *error)
{
    auto source = std::make_unique<PdfSource>();
    if (!source->open(path, error))
        return nullptr;
    return source;
}
