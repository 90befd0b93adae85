// PDF documents as movies: page n is the frame from second n to second n + 1. The document is
// opened here; its pages are drawn in a child process (see PdfPage_p.h).

#include "decoding/DecoderSpawn_p.h"
#include "decoding/MovieSource_p.h"
#include "decoding/PdfPage_draw_p.h"
#include "decoding/PdfPage_p.h"

#include <poppler-qt6.h>

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

void silencePoppler()
{
    static std::once_flag once;
    std::call_once(once, [] { Poppler::setDebugErrorFunction([](const QString &, const QVariant &) {}, QVariant()); });
}

// The page renderer lives beside this module, in the build tree and where it is installed.
QString rendererPath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void *>(&openPdfMovieSource), &info) == 0 || !info.dli_fname)
        return {};
    return QFileInfo(QFile::decodeName(info.dli_fname)).absolutePath() + QLatin1Char('/')
           + QLatin1String(PdfPage::programName);
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// Draws the page in a child process, ending it at the deadline or when the caller stops.
QImage renderInChild(const QString &path, int index, QSize size, const FrameLimits &limits, QString *error)
{
    auto fail = [&](const char *why) {
        if (error)
            *error = QString::fromLatin1(why);
        return QImage();
    };
    constexpr const char *outOfTime = "the page could not be drawn in time";
    static const QString program = rendererPath();
    if (program.isEmpty() || !QFileInfo(program).isExecutable())
        return fail("the page renderer cannot be found");
    const Clock::time_point start = Clock::now();
    if (limits.deadline <= start || (limits.shouldStop && limits.shouldStop()))
        return fail(outOfTime);
    const long long milliseconds =
        std::max<long long>(1, std::chrono::duration_cast<std::chrono::milliseconds>(limits.deadline - start).count());

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return fail("the page renderer cannot be started");
    FileDescriptor reading(ends[0]);
    FileDescriptor writing(ends[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writing.get(), STDOUT_FILENO);
    // Whatever the libraries print stays off the terminal.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const QByteArray programBytes = QFile::encodeName(program);
    const QByteArray pathBytes = QFile::encodeName(path);
    const QByteArray arguments[] = {QByteArray::number(index), QByteArray::number(size.width()),
                                    QByteArray::number(size.height()), QByteArray::number(milliseconds),
                                    QByteArray::number(::getpid())};
    char *argv[] = {const_cast<char *>(programBytes.constData()), const_cast<char *>(pathBytes.constData()),
                    const_cast<char *>(arguments[0].constData()), const_cast<char *>(arguments[1].constData()),
                    const_cast<char *>(arguments[2].constData()), const_cast<char *>(arguments[3].constData()),
                    const_cast<char *>(arguments[4].constData()), nullptr};
    pid_t child = -1;
    DecoderSpawn::Environment environment;
    const DecoderSpawn::Attributes attributes;
    const int spawned =
        posix_spawn(&child, programBytes.constData(), &actions, attributes.get(), argv, environment.get());
    posix_spawn_file_actions_destroy(&actions);
    writing.reset();
    if (spawned != 0)
        return fail("the page renderer cannot be started");

    // Exactly the page asked for: its header, then its rows straight into the picture (rows of
    // Format_RGB32 have no padding). Anything more is not our renderer's.
    constexpr qint64 headerBytes = qint64(sizeof(PdfPage::Header));
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull()) {
        ::kill(child, SIGKILL);
        reading.reset();
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
        return fail("the page cannot be drawn");
    }
    PdfPage::Header header;
    const qint64 expected = headerBytes + image.sizeInBytes();
    qint64 received = 0;
    bool stopped = false;
    for (;;) {
        if ((limits.shouldStop && limits.shouldStop()) || Clock::now() >= limits.deadline) {
            stopped = true;
            break;
        }
        pollfd ready{reading.get(), POLLIN, 0};
        if (::poll(&ready, 1, 100) < 0 && errno != EINTR)
            break;
        if (ready.revents == 0)
            continue;
        char spill;
        char *into = received < headerBytes ? reinterpret_cast<char *>(&header) + received
                     : received < expected  ? reinterpret_cast<char *>(image.bits()) + (received - headerBytes)
                                            : &spill;
        const qint64 wanted = received < headerBytes ? headerBytes - received
                              : received < expected  ? expected - received
                                                     : 1;
        const ssize_t count = ::read(reading.get(), into, size_t(wanted));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        received += count;
        if (received > expected)
            break; // more than a page: not our renderer's output
    }
    if (stopped || received > expected)
        ::kill(child, SIGKILL);
    reading.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    if (stopped || (WIFEXITED(status) && WEXITSTATUS(status) == PdfPage::exitOutOfTime))
        return fail(outOfTime);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || received != expected)
        return fail(WIFSIGNALED(status) ? "drawing the page needed more than its share of time or memory"
                                        : "the page cannot be drawn");
    if (std::memcmp(header.magic, PdfPage::Header().magic, sizeof header.magic) != 0 || header.width != size.width()
        || header.height != size.height())
        return fail("the page cannot be drawn");
    return image;
}

// Poppler draws an image by going over every pixel its dictionary claims, however few its data
// hold, in one drawing call that no deadline reaches: an image claiming tera-pixels holds its page
// for good. Images are stream objects, which a PDF never keeps inside compressed object streams,
// so their dictionaries are in the file as text: one that claims more than could be drawn in any
// page's time is found here, before a page is drawn.
constexpr qint64 maxImagePixels = 1'000'000'000;

// The number after `key` in `dictionary`, unless it is a reference to another object; -1 when
// there is none.
qint64 directNumber(const QByteArray &dictionary, const char *key)
{
    const qsizetype at = dictionary.indexOf(key);
    if (at < 0)
        return -1;
    qsizetype i = at + qsizetype(std::strlen(key));
    auto spaces = [&] {
        while (i < dictionary.size() && std::isspace(uchar(dictionary[i])))
            ++i;
    };
    auto number = [&] {
        qint64 value = -1;
        for (; i < dictionary.size() && std::isdigit(uchar(dictionary[i])); ++i)
            value = std::min<qint64>(qint64(1) << 40, std::max<qint64>(value, 0) * 10 + (dictionary[i] - '0'));
        return value;
    };
    spaces();
    const qint64 value = number();
    spaces();
    // "N G R": an object's number, not the value.
    if (number() >= 0) {
        spaces();
        if (i < dictionary.size() && dictionary[i] == 'R')
            return -1;
    }
    return value;
}

bool claimsHugeImage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Read a megabyte at a time; a dictionary that spans two pieces is whole in the overlap.
    constexpr qint64 piece = qint64(1) << 20;
    constexpr qsizetype overlap = 4096;
    QByteArray window;
    while (!file.atEnd()) {
        window = window.right(overlap) + file.read(piece);
        for (qsizetype at = window.indexOf("/Image"); at >= 0; at = window.indexOf("/Image", at + 6)) {
            const qsizetype after = at + 6;
            if (after < window.size() && std::isalnum(uchar(window[after])))
                continue; // another name (ImageMask, ImageB)
            // The object's dictionary: from its "obj" to its stream.
            const qsizetype begin = std::max<qsizetype>(0, window.lastIndexOf("obj", at));
            qsizetype end = window.indexOf("stream", at);
            end = end < 0 ? window.size() : end;
            const QByteArray dictionary = window.mid(begin, std::min<qsizetype>(end - begin, 2 * overlap));
            const qint64 width = directNumber(dictionary, "/Width"), height = directNumber(dictionary, "/Height");
            if (width > 0 && height > 0 && width * height > maxImagePixels)
                return true;
        }
    }
    return false;
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
    bool frameFitsBudget(MovieTime time, QSize size) const override;
    QImage frameImageAtTime(MovieTime time, QSize size, const FrameLimits &limits, QString *error,
                            QString *damage) override;

private:
    int pageAt(MovieTime time) const;
    // The size the page at `index` is drawn at for `size` (its own where empty); `reduced` tells
    // whether the budget made it smaller. Empty for a page whose own box claims more than may be drawn.
    QSize drawnSize(int index, QSize size, bool *reduced = nullptr) const;

    QString m_path;
    std::unique_ptr<Poppler::Document> m_document;
    QSize m_naturalSize;
    bool m_hugeImage = false;
};

// A page's size in points, one pixel each.
QSize pagePixels(const Poppler::Page &page)
{
    const QSizeF points = page.pageSizeF();
    return QSize(std::max(1, int(std::lround(points.width()))), std::max(1, int(std::lround(points.height()))));
}

// What drawing a page holds beside its pixels (fonts, poppler's state), and for each pixel: poppler's
// bitmap, the picture made of it, and the rows on their way out.
constexpr qint64 pageFixedBytes = qint64(32) << 20;
constexpr qint64 pageBytesPerPixel = 12;

// `size` made smaller, its shape kept, to at most `pixels` and maxSide a side.
QSize shrunkTo(QSize size, qint64 pixels)
{
    const double scale =
        std::min({1.0, double(PdfPage::maxSide) / size.width(), double(PdfPage::maxSide) / size.height(),
                  std::sqrt(double(pixels) / (double(size.width()) * size.height()))});
    return QSize(std::max(1, int(size.width() * scale)), std::max(1, int(size.height() * scale)));
}

bool PdfSource::open(const QString &path, QString *error)
{
    silencePoppler();
    m_path = path;
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
    m_hugeImage = claimsHugeImage(path);
    return true;
}

int PdfSource::pageAt(MovieTime time) const
{
    const int pages = m_document->numPages();
    const double second = std::floor(time.seconds());
    return second < 0 ? 0 : second >= pages ? pages - 1 : int(second);
}

QSize PdfSource::drawnSize(int index, QSize size, bool *reduced) const
{
    const std::unique_ptr<Poppler::Page> page = m_document->page(index);
    if (!page)
        return {};
    const QSize own = pagePixels(*page);
    if (size.isEmpty())
        size = own;
    // A page box past what any page may be (200 inches, 14,400 points, a side) is damage.
    if (own.width() > PdfPage::maxSide || own.height() > PdfPage::maxSide)
        return {};
    // A size beyond what may be drawn, or than the budget holds, is drawn as large as may be: a
    // large page as other large pictures are, reduced.
    const qint64 budget = decodingBudget();
    const qint64 affordable = budget == std::numeric_limits<qint64>::max()
                                  ? PdfPage::maxPixels
                                  : std::max<qint64>(0, budget - pageFixedBytes) / pageBytesPerPixel;
    const QSize drawable = shrunkTo(size, PdfPage::maxPixels);
    const QSize drawn = shrunkTo(drawable, affordable);
    if (reduced)
        *reduced = drawn != drawable;
    return drawn;
}

bool PdfSource::frameFitsBudget(MovieTime time, QSize size) const
{
    bool reduced = false;
    drawnSize(pageAt(time), size, &reduced);
    return !reduced && decodingBudget() >= pageFixedBytes;
}

QImage PdfSource::frameImageAtTime(MovieTime time, QSize size, const FrameLimits &limits, QString *error, QString *)
{
    const int index = pageAt(time);
    const std::unique_ptr<Poppler::Page> page = m_document->page(index);
    if (!page)
        return {};
    size = drawnSize(index, size);
    if (!PdfPage::isDrawableSize(size)) {
        if (error)
            *error = QStringLiteral("the page is too large to draw");
        return {};
    }
    if (m_hugeImage) {
        if (error)
            *error = QStringLiteral("the document holds a picture too large to draw");
        return {};
    }
    // The decoder program draws its pages itself: it is bounded already, and starts no programs.
    static const bool inProcess = qEnvironmentVariableIsSet("OVN_DRAW_PAGES_IN_PROCESS");
    if (!inProcess)
        return renderInChild(m_path, index, size, limits, error);
    bool outOfTime = false;
    QImage image = PdfPage::draw(*m_document, *page, size, limits.deadline, &outOfTime);
    if (image.isNull() && error)
        *error = outOfTime ? QStringLiteral("the page could not be drawn in time")
                           : QStringLiteral("the page cannot be drawn");
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
