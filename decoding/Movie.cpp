#include "decoding/Movie.h"

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "decoding/MovieSource_p.h"
#include "decoding/PictureRows.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibrary>
#include <QStringList>

namespace {

const MovieReaders *loadMovieReaders(QString *why)
{
    QStringList candidates;
    // Beside the program, and where it is installed; then where the build tree put the module.
    const QString name = QStringLiteral("libovn_movie_readers.so");
    if (QCoreApplication::instance()) {
        const QString folder = QCoreApplication::applicationDirPath();
        candidates << folder + QLatin1Char('/') + name << folder + QStringLiteral("/../lib/ostrevan/") + name;
    }
#ifdef OVN_MOVIE_READERS_BUILD_PATH
    candidates << QStringLiteral(OVN_MOVIE_READERS_BUILD_PATH);
#endif
    QStringList failures;
    for (const QString &candidate : std::as_const(candidates)) {
        if (!QFile::exists(candidate))
            continue;
        // Never unloaded: the readers' code and FFmpeg's stay for the rest of the process.
        QLibrary library(candidate);
        using Entry = const MovieReaders *(*)();
        if (const auto entry = reinterpret_cast<Entry>(library.resolve(OVN_MOVIE_READERS_ENTRY)))
            return entry();
        failures << library.errorString();
    }
    *why = failures.isEmpty() ? QStringLiteral("%1 was not found").arg(name) : failures.join(QStringLiteral("; "));
    return nullptr;
}

// A still that a reader registered with the image reading reads (Photoshop files): its rows read
// and reduced as they come, within the decoding budget, where the movie readers would decode the
// whole picture at once.
class ImageReaderStill final : public Movie::Source
{
public:
    ImageReaderStill(QString path, QSize size) : m_path(std::move(path)), m_size(size) {}

    Movie::Kind kind() const override { return Movie::Kind::Still; }
    // One picture, shown for a second.
    MovieTime duration() const override { return MovieTime{Movie::movieTimeScale, Movie::movieTimeScale}; }
    QSize naturalSize() const override { return m_size; }
    QImage frameImageAtTime(MovieTime, QSize size, const FrameLimits &, QString *error, QString *damage) override
    {
        // Every time shows the one picture: read once for a size.
        if (!m_last.isNull() && size == m_lastSize) {
            *damage = m_lastDamage;
            return m_last;
        }
        ImageFileReader::Facts facts;
        QImage image;
        {
            const DecodeReport::Scope report;
            image = ImageFileReader::read(m_path, size, &facts);
            *damage = report.damage();
        }
        if (image.isNull()) {
            *error = facts.refusal != ImageFileReader::Facts::Refusal::None
                         ? ImageFileReader::refusalText(facts.refusal)
                         : QStringLiteral("the picture does not decode");
            return {};
        }
        // Exactly the size asked for, as a movie's frames are.
        m_last = size.isValid() && !size.isEmpty() ? PictureRows::reduced(image, size) : image;
        m_lastSize = size;
        m_lastDamage = *damage;
        return m_last;
    }

private:
    QString m_path;
    QSize m_size;
    QImage m_last; // the picture last read, at m_lastSize
    QSize m_lastSize;
    QString m_lastDamage;
};

} // namespace

const MovieReaders *movieReaders(QString *error)
{
    static QString why;
    static const MovieReaders *const readers = loadMovieReaders(&why);
    if (!readers && error)
        *error = QStringLiteral("The movie and document readers cannot be loaded: %1").arg(why);
    return readers;
}

bool looksLikePdf(const QByteArray &head) { return head.left(1024).contains("%PDF-"); }

std::unique_ptr<Movie> Movie::open(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return nullptr;
    }
    const QByteArray head = file.read(1024);
    file.close();
    if (const QSize still = ImageFileReader::movieStillSize(path); still.isValid())
        return std::unique_ptr<Movie>(new Movie(path, std::make_unique<ImageReaderStill>(path, still)));
    const MovieReaders *readers = movieReaders(error);
    if (!readers)
        return nullptr;
    const FrameLimits limits{&DecodeInterrupt::shouldStop,
                             DecodeInterrupt::deadline().value_or(DecodeInterrupt::Clock::time_point::max())};
    std::unique_ptr<Source> source = looksLikePdf(head) ? readers->openPdf(path, error)
                                                        : readers->openFfmpeg(path, limits, error);
    if (!source) {
        if (error && DecodeInterrupt::cancelled())
            *error = QStringLiteral("opening the movie was cancelled");
        return nullptr;
    }
    return std::unique_ptr<Movie>(new Movie(path, std::move(source)));
}

Movie::Movie(QString path, std::unique_ptr<Source> source) : m_path(std::move(path)), m_source(std::move(source)) {}

Movie::~Movie() = default;

Movie::Kind Movie::kind() const { return m_source->kind(); }

MovieTime Movie::duration() const { return m_source->duration(); }

int Movie::rotationAngle() const { return m_source->rotationAngle(); }

QSize Movie::naturalSize() const { return m_source->naturalSize(); }

QImage Movie::frameImageAtTime(MovieTime time, QSize size)
{
    m_frameError.clear();
    m_frameDamage.clear();
    if (time.timeScale <= 0)
        return {};
    if (!size.isValid() || size.isEmpty())
        size = QSize();
    const FrameLimits limits{&DecodeInterrupt::shouldStop, DecodeInterrupt::deadlineWithin(pageTimeLimit)};
    QImage image = m_source->frameImageAtTime(time, size, limits, &m_frameError, &m_frameDamage);
    // The readers tell a stop, not whether it was the deadline or Cancel.
    if (image.isNull() && DecodeInterrupt::cancelled())
        m_frameError = kind() == Kind::Document ? QStringLiteral("drawing the page was cancelled")
                                                : QStringLiteral("decoding the frame was cancelled");
    DecodeReport::damaged(m_frameDamage);
    return image;
}

bool Movie::fitsBudget() const { return m_source->fitsBudget(); }

bool Movie::frameFitsBudget(MovieTime time, QSize size) const
{
    return m_source->frameFitsBudget(time, size.isValid() && !size.isEmpty() ? size : QSize());
}
