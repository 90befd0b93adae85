// ovn-decoder MEMORY THREADS PARENT: decodes media files for MediaDecoder (see MediaDecoder.h),
// one request after another, over the socket it finds as descriptor 3 (see MediaDecoder_p.h).
// Run by the program, never by people. MEMORY is its data limit in bytes (0: none, in sanitizer
// builds, where the caller watches it instead); THREADS the threads a movie decoder may use (0:
// as many as FFmpeg likes); PARENT the process that started it, which it does not outlive.
//
// Before its first thread and its first request it gives up what a decoder never needs (see
// DecoderSandbox.h): it cannot write or remove files, read the user's files other than the one it
// is handed, start programs or open network connections. It is then a template: for each request
// it forks a child (see DecoderProtocol::ChildNote), which alone reads the request's file, answers
// on a socket of its own and ends, so that no file decides what a later file's picture is; the
// template has loaded its libraries and never reads a file. A thumbnail decoder that is sent a
// second request becomes two templates: the one the program talks to gives up, after forking the
// other, the libraries that the usual files never reach (see TemplateLibraries.h), so that their
// children start and end cheaply; it passes the other requests to the whole template
// ("ovn-decoder-all"), whose children have every library. Its first file's child is forked before
// that, whole. A request's file comes as open descriptors with the request (see DecoderFiles.h). Each request runs on
// its own clock: past the request's time and a grace the decoder ends itself, whatever its parent does. An allocation
// that fails ends it with exitOutOfMemory, which the caller lists as a file that needs more memory.

#include "decoding/AreaScaler.h"
#include "decoding/ChildConfinement.h"
#include "decoding/ColourTransform.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/DecoderFiles.h"
#include "decoding/DecoderFlatMap.h"
#include "decoding/DecoderMessage.h"
#include "decoding/DecoderSandbox.h"
#include "decoding/ImageFileReader.h"
#include "decoding/JpegDecoder.h"
#include "decoding/JpegEncoder.h"
#include "decoding/LiteGif.h"
#include "decoding/LibraryMessages.h"
#include "decoding/MappedFile.h"
#include "decoding/MediaDecoder_p.h"
#include "decoding/Movie.h"
#include "decoding/TurnedStrips.h"
#include "decoding/PictureData.h"
#include "decoding/PictureRows.h"
#include "decoding/RawDecoder.h"
#include "decoding/TemplateLibraries.h"
#include "formats/OVNOrientation.h"
#include "formats/OVNRAWImporter.h"
#include "formats/PictureReaders.h"
#include "platform/HeapTuning.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QSemaphore>
#include <QThreadPool>

#include <dlfcn.h>
#include <poll.h>
#include <malloc.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

QString text(const char *key) { return QString::fromLatin1(key); }

// The threads this decoder's movies decode on (its THREADS argument; 0: as many as its budget
// holds).
int movieThreads = 0;

// Reads the next request's length from `socket`, taking the descriptors of its file that came
// with it.
bool readLength(quint32 &length, std::vector<int> &descriptors, int socket = DecoderProtocol::socketDescriptor)
{
    char *into = reinterpret_cast<char *>(&length);
    size_t left = sizeof length;
    while (left > 0) {
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * DecoderFiles::maxDescriptions)];
        iovec part{into, left};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t count = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        for (cmsghdr *header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
                continue;
            const size_t received = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < received; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
                descriptors.push_back(fd);
            }
        }
        into += count;
        left -= size_t(count);
    }
    return true;
}

// The decoder's own clock: past the request's time and a grace it ends (SIGALRM's default), so
// that it never outlives its file's time even when the program that waits for it is stuck.
void armClock(qint64 milliseconds)
{
    constexpr qint64 grace = 2000;
    const qint64 total = milliseconds > 0 ? milliseconds + grace : 0;
    itimerval timer{};
    timer.it_value.tv_sec = time_t(total / 1000);
    timer.it_value.tv_usec = suseconds_t(total % 1000 * 1000);
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

// Writes the answer in the closed schema of DecoderMessage, with the picture's rows after it, or
// for a large picture when the program may read it directly, its address, keeping the picture
// until the program has read it or asked for its rows. A value outside the schema is a fault of
// this program: the answer then says only that the picture could not be read, as a crash would.
bool reply(QVariantMap map, QImage image, bool direct)
{
    // A picture larger than the program takes from a decoder is one that needs more memory than
    // decoding may use, not a fault of its file.
    if (image.sizeInBytes() > DecoderProtocol::maxPictureBytes) {
        image = QImage();
        map.insert(text("refusal"), int(ImageFileReader::Facts::Refusal::TooLarge));
    }
    direct = direct && image.sizeInBytes() >= DecoderProtocol::directPictureBytes;
    if (!image.isNull()) {
        DecoderProtocol::describe(image, map);
        map.insert(text("pictureBytes"), qint64(image.sizeInBytes()));
        if (direct)
            map.insert(text("pictureAddress"), qint64(reinterpret_cast<quintptr>(image.constBits())));
    }
    std::optional<QByteArray> body = DecoderMessage::write(map);
    const bool sendPicture = body.has_value() && !image.isNull();
    if (!body)
        body = DecoderMessage::write({{text("refusal"), int(ImageFileReader::Facts::Refusal::Crashed)}});
    const quint32 length = quint32(body->size());
    const bool written =
        DecoderProtocol::writeAll(DecoderProtocol::socketDescriptor, reinterpret_cast<const char *>(&length),
                                  sizeof length)
        && DecoderProtocol::writeAll(DecoderProtocol::socketDescriptor, body->constData(), body->size());
    if (!written || !sendPicture)
        return written;
    if (direct) {
        char word = 0;
        if (!DecoderProtocol::readAll(DecoderProtocol::socketDescriptor, &word, 1))
            return false;
        if (word == DecoderProtocol::pictureRead)
            return true;
    }
    return DecoderProtocol::writeAll(DecoderProtocol::socketDescriptor,
                                     reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
}

// LibRaw's OpenMP threads each take a stack within the data limit, and one that cannot be made
// ends the whole program as if the file were at fault: a thumbnail decoder decodes on its own
// thread only, the larger one on a few.
void limitLibraryThreads(long long memory)
{
    using SetThreads = void (*)(int);
    if (auto set = reinterpret_cast<SetThreads>(::dlsym(RTLD_DEFAULT, "omp_set_num_threads")))
        set(memory > 0 && memory < (512LL << 20) ? 1 : 4);
}

// Qt scales and converts large pictures on its pool's threads and waits for them; a thread that
// cannot be made because the memory limit is reached (a movie's frames held, a large picture) is
// waited for for ever, and the decoder hangs until its deadline. The threads are made at the
// start, with small stacks, and kept. A thumbnail decoder, one of many at once, keeps one (`few`):
// each file's process makes its own.
void keepQtHelperThreads(bool few)
{
    QThreadPool *pool = QThreadPool::globalInstance();
    pool->setStackSize(512 * 1024);
    pool->setExpiryTimeout(-1);
    if (few)
        pool->setMaxThreadCount(1);
    const int count = pool->maxThreadCount();
    // Outlive the threads' last touch of them.
    static QSemaphore started;
    static QSemaphore go;
    for (int i = 0; i < count; ++i)
        pool->start([&] {
            started.release();
            go.acquire();
        });
    // All at once, so that each is a thread of its own.
    started.acquire(count);
    go.release(count);
}

// The helper threads of a child that writes a JPEG file, made only once it reads the picture
// otherwise than a row at a time (see writeJpeg): a picture streamed into the file is reduced on
// this thread. Holds keepQtHelperThreads' `few` until then.
std::optional<bool> deferredHelperThreads;

void makeDeferredHelperThreads()
{
    if (deferredHelperThreads)
        keepQtHelperThreads(*std::exchange(deferredHelperThreads, std::nullopt));
}

// What one file's decode left free in the heap goes back to the system before the next request,
// so that an idle decoder holds little, unless it is no more than the next file of the same kind
// would use: that file would otherwise fault it in afresh, page by page. A reduced read decodes at
// most twice the sides of the picture it answers, so its buffers come to about five times that
// picture (some 40 MB for an export's 1600-pixel pictures; 16 MiB at least, for thumbnails).
void releaseFreedMemory(qsizetype answeredBytes)
{
    constexpr size_t least = size_t(16) << 20;
    constexpr size_t most = size_t(64) << 20;
    const size_t kept = std::clamp(size_t(std::max<qsizetype>(answeredBytes, 0)) * 5, least, most);
    if (mallinfo2().fordblks > kept)
        malloc_trim(kept);
}

void addFacts(QVariantMap &map, const ImageFileReader::Facts &facts)
{
    map.insert(text("fullWidth"), facts.size.width());
    map.insert(text("fullHeight"), facts.size.height());
    map.insert(text("orientation"), facts.orientation);
    map.insert(text("previewOnly"), facts.previewOnly);
    map.insert(text("refusal"), int(facts.refusal));
}

QSize boxOf(const QVariantMap &request)
{
    const QSize box(request.value(text("maxWidth")).toInt(), request.value(text("maxHeight")).toInt());
    return box.width() > 0 && box.height() > 0 ? box : QSize();
}

#ifdef OVN_DECODER_TEST_TRIGGERS
// Test builds only: the switches below, read once by the template (see main), so that its children
// look nothing up for them.
struct TestSwitches {
    QString crash = qEnvironmentVariable("OVN_DECODER_TEST_CRASH");
    QString hang = qEnvironmentVariable("OVN_DECODER_TEST_HANG");
    QString large = qEnvironmentVariable("OVN_DECODER_TEST_LARGE");
    QString exhaust = qEnvironmentVariable("OVN_DECODER_TEST_EXHAUST");
    QString wait = qEnvironmentVariable("OVN_DECODER_TEST_WAIT");
    QString marker = qEnvironmentVariable("OVN_DECODER_TEST_LIE");
    QString forge = qEnvironmentVariable("OVN_DECODER_TEST_FORGE");
    QString probe = qEnvironmentVariable("OVN_DECODER_TEST_PROBE");
    QString takesMemory = qEnvironmentVariable("OVN_DECODER_TEST_TAKE_MEMORY");
    QString linger = qEnvironmentVariable("OVN_DECODER_TEST_LINGER");
};

const TestSwitches &testSwitches()
{
    static const TestSwitches switches;
    return switches;
}

// Test builds only: a path that contains the text of OVN_DECODER_TEST_CRASH makes the decoder
// crash, of OVN_DECODER_TEST_HANG hang in a system call, as a fault inside a library or a read
// on a stalled mount would; of OVN_DECODER_TEST_WAIT wait until a file "PATH.go" exists (a slow
// file the test lets go); of OVN_DECODER_TEST_PROBE try what the sandbox refuses and report it as
// the file's damage; of OVN_DECODER_TEST_TAKE_MEMORY take memory every way it can and report how
// far each went (DecoderSandbox::takeMemory).
void testTriggers(const QString &path)
{
    const QString &crash = testSwitches().crash;
    if (!crash.isEmpty() && path.contains(crash))
        ::raise(SIGSEGV);
    const QString &hang = testSwitches().hang;
    if (!hang.isEmpty() && path.contains(hang))
        for (;;)
            ::pause();
    // Of OVN_DECODER_TEST_LARGE: a thumbnail decoder ends as out of memory, the larger one waits
    // until "PATH.go" exists.
    const QString &large = testSwitches().large;
    if (!large.isEmpty() && path.contains(large)) {
        rlimit limit{};
        if (getrlimit(RLIMIT_DATA, &limit) == 0 && limit.rlim_cur < (rlim_t(512) << 20))
            _exit(DecoderProtocol::exitOutOfMemory);
        while (!QFile::exists(path + QStringLiteral(".go")))
            ::usleep(20'000);
    }
    // Of OVN_DECODER_TEST_EXHAUST: takes memory until no more can be mapped, then faults, as a
    // library that does not check what its own mapping gave.
    const QString &exhaust = testSwitches().exhaust;
    if (!exhaust.isEmpty() && path.contains(exhaust)) {
        // (Without a data limit, in sanitizer builds, the caller watches: as if it had seen it.)
        rlimit limit{};
        if (getrlimit(RLIMIT_DATA, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            _exit(DecoderProtocol::exitOutOfMemory);
        while (::mmap(nullptr, size_t(1) << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
               != MAP_FAILED) {}
        ::raise(SIGSEGV);
    }
    const QString &wait = testSwitches().wait;
    if (!wait.isEmpty() && path.contains(wait))
        while (!QFile::exists(path + QStringLiteral(".go")))
            ::usleep(20'000);
}

// Test builds only: a path that contains the text of OVN_DECODER_TEST_LIE, then "-" and a kind,
// makes the decoder answer with a crafted reply of that kind, as a decoder taken over by its file
// could, and then wait to be ended.
void lie(const QString &path)
{
    const QString &marker = testSwitches().marker;
    const qsizetype at = marker.isEmpty() ? -1 : path.indexOf(marker + QLatin1Char('-'));
    if (at < 0)
        return;
    const QString kind = path.mid(at + marker.size() + 1).section(QLatin1Char('.'), 0, 0);
    auto send = [](const QByteArray &body, qint64 claimedLength = -1) {
        const quint32 length = quint32(claimedLength >= 0 ? claimedLength : body.size());
        DecoderProtocol::writeAll(DecoderProtocol::socketDescriptor, reinterpret_cast<const char *>(&length),
                                  sizeof length);
        DecoderProtocol::writeAll(DecoderProtocol::socketDescriptor, body.constData(), body.size());
    };
    auto picture = [](qint64 width, qint64 height, qint64 bytesPerLine, qint64 bytes, int format) {
        return QVariantMap{{text("width"), width},           {text("height"), height},
                           {text("format"), format},         {text("bytesPerLine"), bytesPerLine},
                           {text("pictureBytes"), bytes},    {text("fullWidth"), int(width)},
                           {text("fullHeight"), int(height)}};
    };
    const int rgb32 = int(QImage::Format_RGB32);
    QByteArray rows; // streamed after the reply, as far as the other side reads
    qint64 rowBytes = 0;
    if (kind == QLatin1String("oversized")) {
        // A 25000 x 20000 picture for any box, and its 2 GB of rows.
        send(*DecoderMessage::write(picture(25000, 20000, 100000, qint64(100000) * 20000, rgb32)));
        rowBytes = qint64(100000) * 20000;
    } else if (kind == QLatin1String("qimages")) {
        // Twenty pictures as QVariant values, in Qt's own serialisation.
        QVariantMap map;
        QImage image(400, 400, QImage::Format_RGB32);
        image.fill(Qt::gray);
        for (int i = 0; i < 20; ++i)
            map.insert(QStringLiteral("image%1").arg(i), image);
        QByteArray body;
        QDataStream stream(&body, QIODevice::WriteOnly);
        stream << map;
        send(body);
    } else if (kind == QLatin1String("claimed-list")) {
        // A list that claims 2^31 - 1 values in a few bytes.
        QByteArray body("M\x01\0\0\0\x01\0\0\0xL\xff\xff\xff\x7f", 15);
        send(body);
    } else if (kind == QLatin1String("claimed-string")) {
        QByteArray body("M\x01\0\0\0\x01\0\0\0xs\xff\xff\xff\x7f", 15);
        send(body + QByteArray(64, 'a'));
    } else if (kind == QLatin1String("deep")) {
        QByteArray body("M\x01\0\0\0\x01\0\0\0x", 10);
        for (int i = 0; i < 1000; ++i)
            body += QByteArray("L\x01\0\0\0", 5);
        send(body + 'n');
    } else if (kind == QLatin1String("claimed-length")) {
        // A reply map that claims a gigabyte.
        send(QByteArray(1024, 'M'), qint64(1) << 30);
    } else if (kind == QLatin1String("bytes-per-line")) {
        send(*DecoderMessage::write(picture(64, 64, 1 << 20, qint64(1 << 20) * 64, rgb32)));
        rowBytes = qint64(1 << 20) * 64;
    } else if (kind == QLatin1String("picture-bytes")) {
        send(*DecoderMessage::write(picture(64, 64, 256, qint64(1) << 30, rgb32)));
        rowBytes = qint64(1) << 30;
    } else if (kind == QLatin1String("colours")) {
        QVariantMap map = picture(64, 64, 64, 64 * 64, int(QImage::Format_Indexed8));
        map.insert(text("colors"), QByteArray(1 << 20, '\xff'));
        send(*DecoderMessage::write(map));
        rowBytes = 64 * 64;
    } else if (kind == QLatin1String("full-size")) {
        // Within a box of any size, but larger than any full-size picture may be.
        send(*DecoderMessage::write(picture(20000, 20000, 80000, qint64(80000) * 20000, rgb32)));
        rowBytes = qint64(80000) * 20000;
    } else if (kind == QLatin1String("address") || kind == QLatin1String("address-small")) {
        // Rows to be read from an address where nothing is, of a picture large enough for a direct
        // read or too small to be offered one.
        const int side = kind == QLatin1String("address") ? 1024 : 64;
        QVariantMap map = picture(side, side, side * 4, qint64(side) * side * 4, rgb32);
        map.insert(text("pictureAddress"), qint64(4096));
        send(*DecoderMessage::write(map));
    } else {
        return;
    }
    rows = QByteArray(1 << 20, '\0');
    for (qint64 sent = 0; sent < rowBytes; sent += rows.size())
        if (!DecoderProtocol::writeAll(DecoderProtocol::socketDescriptor, rows.constData(), rows.size()))
            break;
    for (;;)
        ::pause();
}
#endif

// The pieces of a JPEG file written for the program, sent as they are encoded (see
// MediaDecoder_p.h); `size` 0 voids what was sent before.
bool sendJpegPiece(const char *data, qsizetype size)
{
    do {
        const quint32 piece = quint32(std::min<qsizetype>(size, DecoderProtocol::maxJpegPieceBytes));
        const quint32 word = DecoderProtocol::jpegPiece | piece;
        if (!DecoderProtocol::writeAll(DecoderProtocol::socketDescriptor, reinterpret_cast<const char *>(&word),
                                       sizeof word)
            || !DecoderProtocol::writeAll(DecoderProtocol::socketDescriptor, data, piece))
            return false;
        data += piece;
        size -= piece;
    } while (size > 0);
    return true;
}

// A JPEG file of a picture fitted to a box (the writer's truncated sides), its rows taken as the
// reader decodes them: a picture larger than the box is reduced as its rows come (the exact average
// of the area each pixel covers), so that no stage holds the picture. The fitted size is taken from
// the stored size (`facts`), which the rows of a JPEG file reduced in its DCT may be larger than.
class StreamedJpeg : public RowSink
{
public:
    StreamedJpeg(QSize box, int quality, JpegEncoder::Output output, const ImageFileReader::Facts &facts)
        : m_box(box),
          m_facts(facts),
          // What a picture without a density of its own records: 72 dots per inch.
          m_encoder(quality, QSize(2835, 2835), std::move(output))
    {}
    void setColourProfile(const QByteArray &icc) override { m_encoder.setColourProfile(icc); }
    void setDotsPerMeter(QSize dotsPerMeter) override { m_encoder.setDotsPerMeter(dotsPerMeter); }
    bool begin(QSize size, Pixels pixels) override
    {
        m_size = size;
        const QSize target = JpegEncoder::writtenSize(m_facts.size.isValid() ? m_facts.size : size, m_box);
        if (target != size) {
            if (!AreaScaler::fits(size, target))
                return false;
            m_grey = pixels == Pixels::Grey8;
            m_scaler.emplace(size, target, false, [this](const QRgb *row, int) { return written(row); });
            m_row.resize(size_t(size.width()));
            if (m_grey)
                m_greyRow.resize(size_t(target.width()));
        }
        m_begun = true;
        return m_encoder.begin(target, pixels);
    }
    bool addRows(const uchar *first, qsizetype bytesPerLine, int count) override
    {
        if (!m_scaler)
            return m_encoder.addRows(first, bytesPerLine, count);
        for (int i = 0; i < count && !m_scaler->failed(); ++i) {
            const uchar *line = first + qsizetype(i) * bytesPerLine;
            if (m_grey) {
                for (size_t x = 0; x < m_row.size(); ++x)
                    m_row[x] = qRgb(line[x], line[x], line[x]);
                m_scaler->addRow(m_row.data());
            } else {
                m_scaler->addRow(reinterpret_cast<const QRgb *>(line));
            }
        }
        return !m_scaler->failed();
    }
    bool begun() const { return m_begun; }
    QSize size() const { return m_size; }
    bool finish() { return (!m_scaler || m_scaler->isComplete()) && m_encoder.finish(); }

private:
    bool written(const QRgb *row)
    {
        if (!m_grey)
            return m_encoder.addRows(reinterpret_cast<const uchar *>(row), 0, 1);
        for (size_t x = 0; x < m_greyRow.size(); ++x)
            m_greyRow[x] = uchar(qBlue(row[x]));
        return m_encoder.addRows(m_greyRow.data(), 0, 1);
    }

    QSize m_box;
    const ImageFileReader::Facts &m_facts;
    JpegEncoder m_encoder;
    QSize m_size;
    bool m_begun = false;
    bool m_grey = false;
    std::optional<AreaScaler> m_scaler;
    std::vector<QRgb> m_row;
    std::vector<uchar> m_greyRow;
};

// A picture read whole as the writer writes it: fitted to the box (the writer's truncated
// sides), turned by the EXIF orientation, translucency laid on white.
QImage writable(QImage image, QSize fullSize, QSize box, int orientation)
{
    const QSize target = JpegEncoder::writtenSize(fullSize.isValid() ? fullSize : image.size(), box);
    if (!target.isEmpty() && image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image = OVNOrientation::turned(image, orientation);
    if (image.hasAlphaChannel()) {
        QImage onWhite(image.size(), QImage::Format_RGB32);
        if (onWhite.isNull())
            return {};
        onWhite.fill(Qt::white);
        onWhite.setDotsPerMeterX(image.dotsPerMeterX());
        onWhite.setDotsPerMeterY(image.dotsPerMeterY());
        onWhite.setColorSpace(image.colorSpace());
        QPainter painter(&onWhite);
        painter.drawImage(0, 0, image);
        painter.end();
        image = std::move(onWhite);
    } else if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_Grayscale8) {
        image = image.convertToFormat(QImage::Format_RGB32);
    }
    return image;
}

// A turned picture written without a turned copy of it: fitted as writable() fits it, then its
// turned rows gathered from it a band at a time as they are encoded, translucency laid on white by
// the encoder, with the colour profile it was read with. A picture that cannot be fitted or
// converted needs more memory (`facts`).
bool writeTurned(QImage image, QSize fullSize, QSize box, int orientation, int quality,
                 const JpegEncoder::Output &output, ImageFileReader::Facts &facts)
{
    const QSize target = JpegEncoder::writtenSize(fullSize.isValid() ? fullSize : image.size(), box);
    if (!target.isEmpty() && image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (image.hasAlphaChannel())
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    else if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_Grayscale8)
        image.convertTo(QImage::Format_RGB32);
    if (image.isNull()) {
        facts.refusal = ImageFileReader::Facts::Refusal::TooLarge;
        return false;
    }
    JpegEncoder encoder(quality, QSize(image.dotsPerMeterX(), image.dotsPerMeterY()), output);
    if (image.format() != QImage::Format_Grayscale8)
        encoder.setColourProfile(RowSink::rgbProfile(image.colorSpace().iccProfile()));
    return JpegEncoder::sendTurnedRows(image, orientation, encoder) && encoder.finish();
}

// A camera RAW file developed at `shrink`, fitted to `box` when it is valid.
QImage developedRaw(const QString &path, int shrink, QSize box)
{
    const ImageFileReader::WholeFile whole(path);
    const QByteArray &data = whole.bytes();
    if (data.isEmpty())
        return {};
    OVNRAWImporter importer;
    importer.setData(data);
    importer.processImageBufferWithShrinkFactor(shrink);
    QImage image = importer.image();
    if (box.isValid() && !image.isNull())
        image = image.scaled(ImageFileReader::fittedSize(image.size(), box), Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
    return image;
}

// The "writeJpeg" operation: the file's picture as the JPEG writer of the outputs writes it, its
// bytes sent to the program as they are encoded. A picture wanted at its own size and upright is
// streamed from its reader's rows where the reader can; any other is read as "read" reads it
// (reduced while read) or developed as "developRaw" develops it, fitted, turned and encoded here.
// The answer's "jpegBytes" is the file's length; without it there is no file.
QVariantMap writeJpeg(const QVariantMap &request, ImageFileReader::Facts &facts)
{
    const QString path = request.value(text("path")).toString();
    const QSize box = boxOf(request);
    const int orientation = request.value(text("orientation")).toInt();
    const int quality = request.value(text("quality")).toInt();
    const bool raw = request.contains(text("shrink"));
    QVariantMap answer;
    if (!box.isValid())
        return answer;
    qint64 bytes = 0;
    const JpegEncoder::Output output = [&bytes](const char *data, qsizetype size) {
        bytes += size;
        return bytes <= DecoderProtocol::maxJpegBytes && sendJpegPiece(data, size);
    };
    if (!raw && orientation <= 1) {
        StreamedJpeg file(box, quality, output, facts);
        const bool whole = ImageFileReader::stream(path, file, &facts, box);
        if (!facts.size.isValid())
            facts.size = file.size();
        if (file.begun()) {
            if (whole && file.finish())
                answer.insert(text("jpegBytes"), bytes);
            return answer;
        }
        if (facts.refusal != ImageFileReader::Facts::Refusal::None)
            return answer;
        // Nothing was encoded: read otherwise.
        if (bytes > 0 && !sendJpegPiece(nullptr, 0))
            return answer;
        bytes = 0;
        facts = ImageFileReader::Facts{};
    }
    makeDeferredHelperThreads();
    QImage image;
    if (raw) {
        image = developedRaw(path, request.value(text("shrink")).toInt(), box);
    } else {
        image = ImageFileReader::read(path, box, &facts);
        // RGB of a profile the picture cannot carry (one Qt does not read) is written in sRGB.
        if (!image.colorSpace().isValid() && DecodeReport::notedColourSpace() == QLatin1String("RGB"))
            ColourTransform::convertToSRgb(image, DecodeReport::notedColourProfile());
    }
    // A picture wanted turned a quarter at its own size that is too large to be held whole is
    // gathered a strip of its columns at a time, each a read of its rows, within half the budget
    // (the reader's buffers take their share beside it). A decoder that would read it more than
    // twice so leaves it to the larger one, which reads it fewer times.
    const qint64 stripBytes = DecodeMemoryBudget::shared().capacity() / 2;
    if (image.isNull() && !raw && orientation >= 5 && orientation <= 8
        && facts.refusal == ImageFileReader::Facts::Refusal::TooLarge && facts.size.isValid()
        && facts.size.transposed().width() <= box.width() && facts.size.transposed().height() <= box.height()
        && (request.value(text("largest")).toBool() || TurnedStrips::reads(facts.size, 4, stripBytes) <= 2)) {
        ImageFileReader::Facts stripFacts;
        JpegEncoder encoder(quality, QSize(2835, 2835), output);
        const bool sent =
            TurnedStrips::send([&](RowSink &strip) { return ImageFileReader::stream(path, strip, &stripFacts); },
                               orientation, stripBytes, encoder);
        if (sent && encoder.finish()) {
            facts.refusal = ImageFileReader::Facts::Refusal::None;
            answer.insert(text("jpegBytes"), bytes);
        } else if (stripFacts.refusal != ImageFileReader::Facts::Refusal::None) {
            facts.refusal = stripFacts.refusal;
        }
        return answer;
    }
    if (image.isNull())
        return answer;
    if (orientation >= 2 && orientation <= 8) {
        // Held once, not beside a turned copy.
        if (writeTurned(std::move(image), raw ? QSize() : facts.size, box, orientation, quality, output, facts))
            answer.insert(text("jpegBytes"), bytes);
        return answer;
    }
    image = writable(std::move(image), raw ? QSize() : facts.size, box, orientation);
    if (image.isNull()) {
        facts.refusal = ImageFileReader::Facts::Refusal::TooLarge;
        return answer;
    }
    const std::optional<QByteArray> encoded = JpegEncoder::encode(image, quality);
    if (encoded && output(encoded->constData(), encoded->size()))
        answer.insert(text("jpegBytes"), bytes);
    return answer;
}

// A picture read for the screen (thumbnails, previews, the viewers, a picture drawn on before it
// is written) in sRGB: the RGB rows of a file with a colour profile of its own are turned through
// it here, so that the profile, which came with the file, is read within the decoder's
// confinement. Inks and Lab come in sRGB from their readers already. A picture whose reader
// noted no colour but which carries a profile (Qt's readers) is noted as RGB of that profile.
void inScreenColours(QImage &image)
{
    if (image.isNull() || image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_Grayscale16)
        return;
    QByteArray icc;
    if (DecodeReport::notedColourSpace() == QLatin1String("RGB")) {
        icc = DecodeReport::notedColourProfile();
    } else if (DecodeReport::notedColourSpace().isEmpty() && image.colorSpace().isValid()) {
        icc = image.colorSpace().iccProfile();
        if (!icc.isEmpty())
            DecodeReport::colour(QStringLiteral("RGB"), icc);
    }
    if (!icc.isEmpty())
        ColourTransform::convertToSRgb(image, icc);
}

// The largest colour profile a reply carries back (a CMYK profile is some hundreds of kilobytes).
constexpr qsizetype maxRepliedProfileBytes = qsizetype(1) << 20;

class Decoder
{
public:
    QVariantMap handle(const QVariantMap &request, QImage &image);
    bool hasMovie() const { return bool(m_movie); }

private:
    std::unique_ptr<Movie> m_movie;
};

QVariantMap Decoder::handle(const QVariantMap &request, QImage &image)
{
    const QString operation = request.value(text("operation")).toString();
    const QString path = request.value(text("path")).toString();
#ifdef OVN_DECODER_TEST_TRIGGERS
    testTriggers(path);
    lie(path);
    // A path that contains the text of OVN_DECODER_TEST_FORGE makes the decoder answer honestly
    // and then forge the picture of every file it is handed after, as a decoder taken over by its
    // file could.
    static bool forging = false;
    if (forging) {
        image = QImage(16, 16, QImage::Format_RGB32);
        image.fill(Qt::red);
        return {{text("fullWidth"), 16}, {text("fullHeight"), 16}, {text("orientation"), 1}};
    }
    const QString &forge = testSwitches().forge;
    forging = !forge.isEmpty() && path.contains(forge);
    const QString &probe = testSwitches().probe;
    if (!probe.isEmpty() && path.contains(probe))
        return DecoderSandbox::probe(path, ::getppid(), QThreadPool::globalInstance());
    const QString &takesMemory = testSwitches().takesMemory;
    if (!takesMemory.isEmpty() && path.contains(takesMemory))
        return DecoderSandbox::takeMemory();
#endif
    // A movie stays open for its frames only: no other file finds its state.
    if (operation != QLatin1String("movieFrame"))
        m_movie.reset();
    QVariantMap answer;
    ImageFileReader::Facts facts;
    if (operation == QLatin1String("read")) {
        // A picture of few colours may be read indexed, which the program expands: a quarter of
        // the pages to write here and of the bytes to send.
        const PictureRows::IndexedScope indexed;
        image = ImageFileReader::read(path, boxOf(request), &facts);
        inScreenColours(image);
        if (indexed.taken() && image.format() == QImage::Format_Indexed8)
            answer.insert(text("expand"), true);
    } else if (operation == QLatin1String("readRaw")) {
        const ImageFileReader::WholeFile whole(path);
        const QByteArray &data = whole.bytes();
        OVNRAWImporter importer;
        if (!data.isEmpty())
            importer.setData(data);
        if (!data.isEmpty() && importer.status() == OVNRAWImporter::Identified) {
            answer.insert(text("metadata"), importer.metadata());
            image = ImageFileReader::readRaw(data, boxOf(request), &facts);
            inScreenColours(image);
        }
    } else if (operation == QLatin1String("identifyRaw")) {
        const std::optional<RawDecoder::Info> info = RawDecoder::identifyFile(path);
        answer.insert(text("identified"), info.has_value());
        if (info) {
            answer.insert(text("make"), info->make);
            answer.insert(text("model"), info->model);
            answer.insert(text("rawWidth"), info->rawWidth);
            answer.insert(text("rawHeight"), info->rawHeight);
            answer.insert(text("width"), info->width);
            answer.insert(text("height"), info->height);
            answer.insert(text("flip"), info->flip);
        }
        return answer;
    } else if (operation == QLatin1String("developRaw")) {
        // Only what the caller's box needs crosses the socket.
        image = developedRaw(path, request.value(text("shrink")).toInt(), boxOf(request));
    } else if (operation == QLatin1String("writeJpeg")) {
        answer = writeJpeg(request, facts);
    } else if (operation == QLatin1String("readData")) {
        QSize stored;
        image = PictureData::decodeToFit(request.value(text("data")).toByteArray(), boxOf(request), &stored);
        facts.size = stored;
    } else if (operation == QLatin1String("openMovie")) {
        // The larger decoder gives a movie as many threads as its budget holds; another decoder
        // keeps to the threads it was started with.
        const bool largest = request.value(text("largest")).toBool();
        qputenv("OVN_MOVIE_DECODE_THREADS", QByteArray::number(largest ? 0 : movieThreads));
        QString error;
        m_movie = Movie::open(path, &error);
        // A movie whose frames would not decode on enough threads here goes to the larger
        // decoder now, before its first frame, rather than after running out of memory on it.
        if (m_movie && !largest && !m_movie->fitsBudget()) {
            m_movie.reset();
            return {{text("opened"), false},
                    {text("refusal"), int(ImageFileReader::Facts::Refusal::TooLarge)},
                    {text("error"), ImageFileReader::refusalText(ImageFileReader::Facts::Refusal::TooLarge)}};
        }
        answer.insert(text("opened"), bool(m_movie));
        answer.insert(text("error"), error);
        if (m_movie) {
            const MovieTime duration = m_movie->duration();
            answer.insert(text("kind"), int(m_movie->kind()));
            answer.insert(text("timeValue"), duration.timeValue);
            answer.insert(text("timeScale"), duration.timeScale);
            answer.insert(text("width"), m_movie->naturalSize().width());
            answer.insert(text("height"), m_movie->naturalSize().height());
        }
        return answer;
    } else if (operation == QLatin1String("readers")) {
        return {{text("fileTypes"), ImageFileReader::registeredFileTypes()}};
    } else if (operation == QLatin1String("movieFrame")) {
        if (m_movie) {
            const MovieTime time{request.value(text("timeValue")).toLongLong(),
                                 qint32(request.value(text("timeScale")).toInt())};
            // A page that this decoder would draw smaller than asked, for want of memory, is drawn
            // by the larger one.
            if (!request.value(text("largest")).toBool() && !m_movie->frameFitsBudget(time, boxOf(request))) {
                answer.insert(text("refusal"), int(ImageFileReader::Facts::Refusal::TooLarge));
                answer.insert(text("error"), ImageFileReader::refusalText(ImageFileReader::Facts::Refusal::TooLarge));
                return answer;
            }
            image = m_movie->frameImageAtTime(time, boxOf(request));
            answer.insert(text("error"), m_movie->frameError());
        } else {
            answer.insert(text("error"), text("the movie is not open"));
        }
    }
    // Pictures go as stored; a format the other side cannot rebuild is made one it can.
    if (!image.isNull() && image.format() == QImage::Format_Invalid)
        image = QImage();
    addFacts(answer, facts);
    return answer;
}

void closeAll(const std::vector<int> &descriptors)
{
    for (const int fd : descriptors)
        ::close(fd);
}

// Answers the request `body` and, for a movie, its frames' requests after it; the child's exit
// status.
// Whether a thumbnail child keeps a Qt helper thread (see keepQtHelperThreads): for a file that
// can hold a picture large enough to bring the child near its memory limit. No ordinary file holds
// more than 16 pixels a byte, and a picture under 16 megapixels leaves a thumbnail child room for
// a thread; a file that claims more than its size allows ends at its deadline at worst. A JPEG file
// is read into a box reduced in its DCT and as its rows come, all on this thread, however large it
// is. (Looked at by the child alone: its template reads nothing of any file.)
bool mayNeedHelperThreads(const std::vector<int> &descriptors)
{
    constexpr off_t largeFileBytes = off_t(1) << 20;
    struct stat status {};
    if (descriptors.empty() || ::fstat(descriptors.front(), &status) != 0)
        return true;
    if (status.st_size < largeFileBytes)
        return false;
    unsigned char head[3] = {};
    return ::pread(descriptors.front(), head, sizeof head, 0) != ssize_t(sizeof head)
           || !JpegDecoder::looksLikeJpeg(head, sizeof head);
}

int serve(pid_t template_, bool thumbnails, unsigned long long addressSpace, QByteArray body,
          const std::vector<int> &descriptors)
{
    if (!ChildConfinement::confineForkedChild(template_))
        return 1;
    // Before it reads a byte of its file: whatever it maps from here on, written, protected,
    // reserved or shared, counts.
    if (addressSpace > 0 && !ChildConfinement::lowerLimit(RLIMIT_AS, addressSpace))
        return 1;
    // Each thread made costs a file's process its start and end; most files need none.
    const bool helperThreads = !thumbnails || mayNeedHelperThreads(descriptors);
    Decoder decoder;
    DecoderFiles::hold(descriptors);
    for (bool first = true;; first = false) {
        if (!first) {
            quint32 length = 0;
            std::vector<int> more;
            const bool read = readLength(length, more);
            DecoderFiles::hold(more);
            if (!read || length > DecoderProtocol::maxMapBytes)
                return 0;
            body = QByteArray(qsizetype(length), Qt::Uninitialized);
            if (!DecoderProtocol::readAll(DecoderProtocol::socketDescriptor, body.data(), length))
                return 0;
        }
        const QVariantMap request = DecoderProtocol::decode(body);
        const QString operation = request.value(text("operation")).toString();
        // After its file, a child answers only the frames of the movie it opened.
        if (!first && (operation != QLatin1String("movieFrame") || !decoder.hasMovie()))
            return 0;
        if (first && helperThreads) {
            if (operation == QLatin1String("writeJpeg"))
                deferredHelperThreads = thumbnails;
            else
                keepQtHelperThreads(thumbnails);
        }
        const qint64 milliseconds = std::max<qint64>(1, request.value(text("milliseconds")).toLongLong());
        armClock(milliseconds);
        QImage image;
        QVariantMap answer;
        {
            // The readers stop by themselves at the deadline where they ask; the caller ends this
            // process where they do not.
            const DecodeInterrupt::Scope interrupt(nullptr, std::chrono::milliseconds(milliseconds));
            const DecodeReport::Scope report;
            answer = decoder.handle(request, image);
            if (!report.damage().isEmpty())
                answer.insert(text("damage"), report.damage());
            if (!report.unsupported().isEmpty())
                answer.insert(text("unsupported"), report.unsupported());
            if (!report.colourSpace().isEmpty()) {
                answer.insert(text("colourSpace"), report.colourSpace());
                if (!report.colourProfile().isEmpty() && report.colourProfile().size() <= maxRepliedProfileBytes)
                    answer.insert(text("colourProfile"), report.colourProfile());
            }
        }
        DecoderFiles::release();
        const bool replied = reply(answer, image, request.value(text("directPicture")).toBool());
        armClock(0);
#ifdef OVN_DECODER_TEST_TRIGGERS
        // Test builds: a path that holds the text of OVN_DECODER_TEST_LINGER keeps its child after
        // its answer, as a child a file took over may stay.
        const QString &linger = testSwitches().linger;
        if (!linger.isEmpty() && request.value(text("path")).toString().contains(linger))
            for (;;)
                ::pause();
#endif
        if (!replied || !decoder.hasMovie())
            return 0;
        const qsizetype answeredBytes = image.sizeInBytes();
        image = QImage();
        releaseFreedMemory(answeredBytes);
    }
}

// Tells the program the child that answers its request: its pid, and the socket to it.
bool handOver(pid_t child, int socket)
{
    const DecoderProtocol::ChildNote note{DecoderProtocol::childStarted, qint32(child), 0};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    iovec part{const_cast<DecoderProtocol::ChildNote *>(&note), sizeof note};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &socket, sizeof socket);
    ssize_t sent;
    while ((sent = ::sendmsg(DecoderProtocol::socketDescriptor, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {}
    return sent == ssize_t(sizeof note);
}

// Tells the program how a child ended: its wait status and the most memory it held. MSG_NOSIGNAL:
// a program that has gone ends this template by its closed socket, not by a signal.
bool noteEnd(pid_t child, int status, const rusage &usage)
{
    const DecoderProtocol::ChildNote note{DecoderProtocol::childEnded, qint32(child), qint32(status),
                                          qint32(std::min<long>(usage.ru_maxrss, std::numeric_limits<qint32>::max()))};
    const char *data = reinterpret_cast<const char *>(&note);
    for (size_t left = sizeof note; left > 0;) {
        const ssize_t sent = ::send(DecoderProtocol::socketDescriptor, data, left, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        left -= size_t(sent);
    }
    return true;
}

// SIGCHLD, read from a descriptor: how a template hears that its child ended, without a pidfd
// (which it may not open: one of the program's would let it signal the program) and without
// waking up while the child runs. Blocked in the template, whose children take their own mask
// back (see serveRequest); -1 where it cannot be had, and the template then looks every 20 ms.
int childEnds()
{
    static const int ends = [] {
        sigset_t child;
        sigemptyset(&child);
        sigaddset(&child, SIGCHLD);
        if (::sigprocmask(SIG_BLOCK, &child, nullptr) != 0)
            return -1;
        return ::signalfd(-1, &child, SFD_CLOEXEC | SFD_NONBLOCK);
    }();
    return ends;
}

// Waits until the child ends by itself, or until the program sends its next request (or goes).
// Either way the program is told how the child ended. A child never answers a second file: the
// program ends one that lingers after its answer before it sends the next request, and this
// waits for that end; a program that went takes this template and its child with it. False when
// the program has gone.
bool awaitChild(pid_t child)
{
    const int ends = childEnds();
    int status = 0;
    rusage usage{};
    for (;;) {
        if (::wait4(child, &status, WNOHANG, &usage) == child)
            return noteEnd(child, status, usage);
        pollfd ready[2] = {{DecoderProtocol::socketDescriptor, POLLIN, 0}, {ends, POLLIN, 0}};
        const int polled = ::poll(ready, ends >= 0 ? 2 : 1, ends >= 0 ? -1 : 20);
        if (polled < 0 && errno != EINTR)
            return false;
        if (ends >= 0 && (ready[1].revents & POLLIN)) {
            signalfd_siginfo heard[8];
            while (::read(ends, heard, sizeof heard) > 0) {}
        }
        if (ready[0].revents != 0)
            break;
    }
    char byte;
    if (::recv(DecoderProtocol::socketDescriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0)
        return false;
    while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {}
    return noteEnd(child, status, usage);
}

// The name of the whole template's process, and of its children again: a look at the process
// tree tells templates from the children of one file by it.
constexpr char wholeTemplateName[] = "ovn-decoder-all";
constexpr char childName[] = "ovn-decoder";

// How serving a request ended: the next one may come, the program has gone, or this template
// cannot go on.
enum class Outcome : char { Next, ProgramGone, Failed };

// A child of the template that gave libraries up, for a usual file, of one that kept them all, or
// of the minimal template (see runMinimalTemplate).
enum class Fork { Usual, Whole, Minimal };

// A child's address space: what its template maps when it forks it (the libraries, the
// template's heap and its main thread's stack), its data limit (which holds its heap, its
// threads' stacks and its file's mapping, the decoding budget counting that too), and what it maps
// besides, none of which is data: its main thread's stack grown to its limit, its threads' guard
// pages, and for a child of a template that kept every library, the movie and document readers'
// libraries it loads at its first movie or document (some 110 MiB) and the fonts a document maps.
// Nothing else: a child that maps more, of whatever kind or protection, is refused the mapping,
// and its decode ends as one that needs more memory.
constexpr unsigned long long mainStackBytes = 8ULL << 20;
// The stack of a thread a library starts (LibRaw's, FFmpeg's): 2 MiB rather than the C library's
// 8, which a few dozen threads would take out of the data limit.
constexpr unsigned long long threadStackBytes = 2ULL << 20;
constexpr unsigned long long guardPageBytes = 8ULL << 20;
constexpr unsigned long long readersLibraryBytes = 224ULL << 20;

struct ChildMemory {
    unsigned long long data = 0; // the decoder's data limit (0: none, nor an address-space limit)
    int gauge = -1;              // the template's mapping, read before each fork
    // A template forked from the program's (the whole one, the minimal one) cannot read its own
    // mapping: what its parent mapped when it forked it, and the request it holds with the one
    // before it kept by the allocator (see runWholeTemplate).
    bool forkedTemplate = false;
    unsigned long long forkedTemplateMapped = 0;
};
ChildMemory childMemory;

// The program's template's link to its minimal template (see runMinimalTemplate), which none of
// its children, nor its whole template, holds; -1 elsewhere.
int minimalLink = -1;

unsigned long long childAddressSpace(Fork kind)
{
    if (childMemory.data == 0)
        return 0;
    const unsigned long long mapped = childMemory.forkedTemplate ? childMemory.forkedTemplateMapped
                                                                 : ChildConfinement::mappedBytes(childMemory.gauge);
    if (mapped == 0)
        return 0;
    return mapped + childMemory.data + mainStackBytes + guardPageBytes
           + (kind == Fork::Whole ? readersLibraryBytes : 0);
}

std::span<char> bytesOf(QByteArray &body) { return {body.data(), size_t(body.size())}; }

// Forks the child that answers the request (`serveChild`, given the child's address-space limit,
// says what its process ends with), hands it to the program and waits for its end. `link` is the
// socket between two templates, which no child holds.
template <typename ServeChild>
Outcome serveRequest(std::span<char> body, const std::vector<int> &descriptors, Fork kind, int link,
                     ServeChild &&serveChild)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        closeAll(descriptors);
        return Outcome::Failed;
    }
    // Measured here, where the template's mapping is known: its child cannot look.
    const unsigned long long addressSpace = childAddressSpace(kind);
    if (childMemory.data > 0 && addressSpace == 0) {
        closeAll(descriptors);
        ::close(ends[0]);
        ::close(ends[1]);
        return Outcome::Failed;
    }
    // A template that gave libraries up runs none of their handlers for a fork (_Fork): it holds
    // one thread and no lock that a child could find taken.
    const bool gaveUp = kind != Fork::Whole;
    const pid_t child = gaveUp ? ::_Fork() : ::fork();
    if (child == 0) {
        // Signals as the template was started with: none blocked.
        ::close(childEnds());
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        // The request's own socket takes the program's place: the child never sees the
        // template's, nor any request but its own (and a movie's frames), nor a link to another.
        if (link >= 0)
            ::close(link);
        if (minimalLink >= 0)
            ::close(minimalLink);
        if (childMemory.gauge >= 0)
            ::close(childMemory.gauge);
        if (::dup2(ends[1], DecoderProtocol::socketDescriptor) < 0)
            _exit(1);
        ::close(ends[0]);
        ::close(ends[1]);
        if (gaveUp)
            TemplateLibraries::endOnReachingGivenUp();
        // (The usual template's children have its name already.)
        if (kind != Fork::Usual)
            ::prctl(PR_SET_NAME, childName);
        _exit(serveChild(addressSpace));
    }
    // Nothing of this request stays here: its descriptors are the child's, its bytes zeroed.
    closeAll(descriptors);
    std::memset(body.data(), 0, body.size());
    ::close(ends[1]);
    const bool handed = child > 0 && handOver(child, ends[0]);
    ::close(ends[0]);
    if (!handed)
        return Outcome::Failed;
    return awaitChild(child) ? Outcome::Next : Outcome::ProgramGone;
}

// Whether the template that gave libraries up serves a request: a picture read into a box, not
// asked of the whole template, of a file of any size (its child makes what helper threads it needs,
// see mayNeedHelperThreads). (A read at full size may go to Qt's readers, whose plugins bind to the
// libraries given up.)
bool isUsual(const QByteArray &body, const std::vector<int> &descriptors, bool thumbnails)
{
    if (!thumbnails || descriptors.empty())
        return false;
    // Looked at without building the request: what the template allocates and writes after a
    // fork, its child copies.
    const auto value = [&body](const char *key) { return DecoderMessage::scalar(body, key); };
    const auto operation = value("operation");
    const auto width = value("maxWidth"), height = value("maxHeight"), whole = value("whole");
    const auto positive = [](const std::optional<DecoderMessage::Scalar> &side) {
        return side && (side->tag == 'i' || side->tag == 'l') && side->number > 0;
    };
    return operation && operation->tag == 's' && operation->text == "read" && positive(width) && positive(height)
           && !(whole && whole->tag == 'b' && whole->number != 0);
}

// What the template's start freed goes back: each fork copies, and each child's end unmaps, the
// pages the template holds, and a child that allocates takes fresh pages as cheaply as copied
// ones. What stays free is taken for good, so that a child's allocations come packed from the top
// of the heap rather than from free blocks strewn over pages it would copy.
void readyHeapForChildren()
{
    ::malloc_trim(0);
    HeapTuning::takeFreeBlocks();
    ::malloc_trim(0);
}

// The whole template: serves each request the other template passes it, as that one would, on
// the program's socket, and says how it ended.
[[noreturn]] void runWholeTemplate(int link, int threads)
{
    const pid_t self = ::getpid();
    readyHeapForChildren(); // as the template that forked this one does (see main)
    for (;;) {
        quint32 length = 0;
        std::vector<int> descriptors;
        const bool read = readLength(length, descriptors, link);
        QByteArray body;
        if (read && length <= DecoderProtocol::maxMapBytes) {
            body = QByteArray(qsizetype(length), Qt::Uninitialized);
            if (DecoderProtocol::readAll(link, body.data(), length)) {
                const char outcome =
                    char(serveRequest(bytesOf(body), descriptors, Fork::Whole, link, [&](auto addressSpace) {
                        return serve(self, threads == 1, addressSpace, body, descriptors);
                    }));
                if (DecoderProtocol::writeAll(link, &outcome, 1) && outcome == char(Outcome::Next))
                    continue;
                _exit(0);
            }
        }
        closeAll(descriptors);
        _exit(0);
    }
}

// Whether the program sent another request (or has gone): waits until either, without reading.
bool requestComing()
{
    pollfd ready{DecoderProtocol::socketDescriptor, POLLIN, 0};
    while (::poll(&ready, 1, -1) < 0)
        if (errno != EINTR)
            return false;
    char byte;
    return ::recv(DecoderProtocol::socketDescriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

// A template forked from this one (the whole one, at its second request; the minimal one, at its
// start): its pid and the socket to it.
struct ForkedTemplate {
    pid_t pid = -1;
    int socket = -1;
};

// Forks a template named `name` that runs `run` on its end of the socket, and ends with this one.
template <typename Run>
ForkedTemplate startForkedTemplate(pid_t self, const char *name, Run &&run)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return {};
    if (childMemory.data > 0)
        childMemory.forkedTemplateMapped =
            ChildConfinement::mappedBytes(childMemory.gauge) + 2ULL * DecoderProtocol::maxMapBytes;
    const pid_t forked = ::fork();
    if (forked == 0) {
        ::close(ends[0]);
        if (minimalLink >= 0)
            ::close(minimalLink);
        minimalLink = -1;
        childMemory.forkedTemplate = true;
        if (childMemory.gauge >= 0)
            ::close(childMemory.gauge);
        childMemory.gauge = -1;
        if (!ChildConfinement::endWithParent(self))
            _exit(0);
        ::prctl(PR_SET_NAME, name);
        run(ends[1]);
        _exit(0);
    }
    ::close(ends[1]);
    if (forked < 0) {
        ::close(ends[0]);
        return {};
    }
    return {forked, ends[0]};
}

// Ends a template forked from this one (the whole one, the minimal one) and waits for it, so that
// its processor time and its children's count as this process's children's.
void endForkedTemplate(pid_t pid, int socket)
{
    if (pid <= 0)
        return;
    ::close(socket);
    while (::wait4(pid, nullptr, 0, nullptr) < 0 && errno == EINTR) {}
}

// Passes a request to a template forked from this one with its file's descriptors, and waits until
// that has served it: meanwhile the program's socket is that template's alone.
Outcome passToTemplate(int other, QByteArray &body, const std::vector<int> &descriptors)
{
    const bool passed = DecoderProtocol::sendRequest(other, body, descriptors);
    closeAll(descriptors);
    std::memset(body.data(), 0, size_t(body.size()));
    char outcome = char(Outcome::Failed);
    if (!passed || !DecoderProtocol::readAll(other, &outcome, 1) || outcome < char(Outcome::Next)
        || outcome > char(Outcome::Failed))
        return Outcome::Failed;
    return Outcome(outcome);
}

// The minimal template. A small GIF's thumbnail costs its child far less than the process does:
// a child of the usual template forks Qt and the readers' libraries with it, and touches Qt's code
// and data for the first time, for a picture that decodes in a tenth of that. The minimal template
// is forked from the program's before Qt starts and gives up every library but the C and C++
// runtime (see TemplateLibraries.h). Its children read a GIF whose screen fits the box as the GIF
// reader's indexed road would (LiteGif), with code that calls into no other library, and answer
// as that reader's child would. A file they do not read so ends its child as one that needs the
// whole template: the program asks again, of a child that reads it with every library.
constexpr char minimalTemplateName[] = "ovn-decoder-min";

#ifdef OVN_DECODER_TEST_TRIGGERS
// Test builds: the text of OVN_DECODER_TEST_HANG, read before Qt is given up: a file whose path
// holds it is read for ever, as in a child of the other templates (see Decoder::handle).
std::string minimalHang;
#endif

// Whether the program marked the request as one for the minimal template: a picture read into a
// box, of a file whose first bytes are those of a GIF whose screen fits the box.
bool forMinimalTemplate(const QByteArray &body, const std::vector<int> &descriptors, bool thumbnails)
{
    if (!isUsual(body, descriptors, thumbnails))
        return false;
    const std::optional<DecoderMessage::Scalar> gif = DecoderMessage::scalar(body, "gifWithinBox");
    return gif && gif->tag == 'b' && gif->number != 0;
}

// A number of a request, found with code that calls into no Qt library; 0 for none.
int64_t requestNumber(std::span<const char> body, const char *key)
{
    const std::optional<DecoderMessage::Scalar> value =
        DecoderMessage::scalar(QByteArrayView(body.data(), qsizetype(body.size())), key);
    return value && (value->tag == 'i' || value->tag == 'l') ? value->number : 0;
}

// The answer of a minimal template's child, in the keys a child of the usual template gives a
// GIF read indexed (see reply and addFacts), with the picture's rows after it; without a
// picture, the refusal of a read stopped at its deadline.
bool replyFromRuntime(const LiteGif::Picture &picture, bool stopped)
{
    DecoderFlatMap map;
    if (!stopped) {
        map.addInt("width", picture.width);
        map.addInt("height", picture.height);
        map.addInt("format", int32_t(QImage::Format_Indexed8));
        map.addLong("bytesPerLine", picture.bytesPerLine);
        map.addBytes("colors", picture.palette.data(), sizeof picture.palette);
        map.addLong("pictureBytes", int64_t(picture.indices.size()));
        map.addBool("expand", true);
        if (picture.damage)
            map.addText("damage", picture.damage);
    }
    map.addInt("fullWidth", picture.width);
    map.addInt("fullHeight", picture.height);
    map.addInt("orientation", 0);
    map.addBool("previewOnly", false);
    map.addInt("refusal",
               int32_t(stopped ? ImageFileReader::Facts::Refusal::OutOfTime : ImageFileReader::Facts::Refusal::None));
    const std::string &bytes = map.bytes();
    const uint32_t length = uint32_t(bytes.size());
    const int socket = DecoderProtocol::socketDescriptor;
    return DecoderProtocol::writeAll(socket, reinterpret_cast<const char *>(&length), sizeof length)
           && DecoderProtocol::writeAll(socket, bytes.data(), qint64(bytes.size()))
           && (stopped
               || DecoderProtocol::writeAll(socket, reinterpret_cast<const char *>(picture.indices.data()),
                                            qint64(picture.indices.size())));
}

// A minimal template's child: confined as any file's child (see serve), it reads its GIF and
// answers, or ends as one that needs the whole template.
int serveFromRuntime(pid_t template_, unsigned long long addressSpace, std::span<const char> body, int file)
{
    if (!ChildConfinement::confineForkedChild(template_))
        return 1;
    if (addressSpace > 0 && !ChildConfinement::lowerLimit(RLIMIT_AS, addressSpace))
        return 1;
    const int64_t milliseconds = std::max<int64_t>(1, requestNumber(body, "milliseconds"));
    armClock(milliseconds);
#ifdef OVN_DECODER_TEST_TRIGGERS
    const std::optional<DecoderMessage::Scalar> path =
        DecoderMessage::scalar(QByteArrayView(body.data(), qsizetype(body.size())), "path");
    if (!minimalHang.empty() && path && path->tag == 's'
        && std::string_view(path->text.data(), size_t(path->text.size())).find(minimalHang) != std::string_view::npos)
        for (;;)
            ::pause();
#endif
    LiteGif::Picture picture;
    LiteGif::Outcome outcome;
    {
        const DecodeInterrupt::Scope interrupt(nullptr, std::chrono::milliseconds(milliseconds));
        outcome = LiteGif::read(file, int(std::clamp<int64_t>(requestNumber(body, "maxWidth"), 0, 1 << 16)),
                                int(std::clamp<int64_t>(requestNumber(body, "maxHeight"), 0, 1 << 16)), picture);
    }
    if (outcome == LiteGif::Outcome::NotHere)
        return DecoderProtocol::exitNeedsWholeDecoder;
    const bool replied = replyFromRuntime(picture, outcome == LiteGif::Outcome::Stopped);
    armClock(0);
    return replied ? 0 : 1;
}

// The minimal template's requests, passed on by the program's template over `link`, each served
// by a child of its own.
[[noreturn]] void runMinimalTemplate(int link)
{
    const pid_t self = ::getpid();
    // (Where nothing could be given up, its children read all the same, at the usual cost.)
    TemplateLibraries::giveUpAllBut(TemplateLibraries::Kept::RuntimeOnly);
    // Sized here once, as the program's template sizes it for its children (see main).
    DecodeMemoryBudget::shared();
    readyHeapForChildren();
    childEnds();
    for (;;) {
        quint32 length = 0;
        std::vector<int> descriptors;
        std::vector<char> body;
        if (readLength(length, descriptors, link) && length <= DecoderProtocol::maxMapBytes) {
            body.resize(length);
            if (DecoderProtocol::readAll(link, body.data(), length)) {
                const int file = descriptors.empty() ? -1 : descriptors.front();
                const char outcome = char(serveRequest(body, descriptors, Fork::Minimal, link, [&](auto addressSpace) {
                    return serveFromRuntime(self, addressSpace, body, file);
                }));
                if (DecoderProtocol::writeAll(link, &outcome, 1) && outcome == char(Outcome::Next))
                    continue;
            }
        }
        closeAll(descriptors);
        _exit(0);
    }
}

// A decoder formats no numbers, dates or messages for people: of the user's locale it takes the
// character type alone, so that the C library maps one locale file rather than one a category
// (a dozen mappings that each file's child would copy and unmap again).
void keepOnlyCharacterTypeLocale()
{
    std::string characterType;
    for (const char *name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char *value = std::getenv(name);
        if (value && *value) {
            characterType = value;
            break;
        }
    }
    for (const char *name : {"LC_ALL", "LC_COLLATE", "LC_MESSAGES", "LC_MONETARY", "LC_NUMERIC", "LC_TIME", "LC_PAPER",
                             "LC_NAME", "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"})
        ::unsetenv(name);
    ::setenv("LANG", "C", 1);
    if (characterType.empty())
        ::unsetenv("LC_CTYPE");
    else
        ::setenv("LC_CTYPE", characterType.c_str(), 1);
}

// The templates' own address space beyond their data: the libraries they load (Qt, LibRaw,
// FFmpeg, poppler and their plugins) and their stacks, none of which hold memory of their own
// until written. Each child is held to a limit of its own, far closer (see childAddressSpace).
constexpr unsigned long long addressSpaceBeyondData = 1536ULL << 20;

// The descriptors a template or a child holds at once: standard input, output and error, its
// socket, a request's few openings (DecoderFiles::maxDescriptions), the link to the other
// template and a child's socket and process handle, the event loop's, and what the readers open
// themselves (a document's fonts, one at a time). Each pipe a child could open beyond these would
// hold kernel memory that no limit counts.
constexpr unsigned long long descriptorLimit = 64;

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    const pid_t parent = pid_t(std::atoll(argv[3]));
    const long long memory = std::atoll(argv[1]);
    const int threads = std::atoi(argv[2]);
    std::set_new_handler([] { _exit(DecoderProtocol::exitOutOfMemory); });
    // Its children read the files they are handed where they lie (see MappedFile).
    MappedFile::allowInThisProcess();
    // One arena for every thread: each further one reserves 64 MiB of the address space that a
    // child's limit counts, written or not. Small blocks still come from each thread's own cache.
    mallopt(M_ARENA_MAX, 1);
    ChildConfinement::sizeThreadStacks(threadStackBytes, mainStackBytes);
    // A decoder reads file after file of about the same size: each reuses the last one's buffers
    // instead of mapping and zeroing fresh pages (within its data limit all the same).
    HeapTuning::keepFreedMemoryForReuse(std::size_t(64) << 20);
    limitLibraryThreads(memory);
    movieThreads = std::max(threads, 0);
    // Pages of PDF documents are drawn here, bounded by this decoder's own limits.
    qputenv("OVN_DRAW_PAGES_IN_PROCESS", "1");

    // Nothing the program had open but the socket: a descriptor open for writing that a spawn
    // let through would be a way round the sandbox.
    ::syscall(SYS_close_range, DecoderProtocol::socketDescriptor + 1, ~0U, 0);

    // Confined while it has one thread: every thread it starts from here on (Qt's pool, the
    // libraries' own) is held by the same boundaries. Its own folder holds the movie and document
    // readers it loads at the first movie.
    DecoderSandbox::Options sandbox;
    sandbox.readable << QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
#ifdef OVN_MOVIE_READERS_BUILD_PATH
    sandbox.readable << QFileInfo(QStringLiteral(OVN_MOVIE_READERS_BUILD_PATH)).absolutePath();
#endif
    sandbox.parent = parent;
    sandbox.startsChildren = true;
    if (memory > 0) {
        sandbox.data = (unsigned long long)(memory);
        sandbox.addressSpace = (unsigned long long)(memory) + addressSpaceBeyondData;
        // Each child gets a limit of its own, from the template's mapping when it is forked.
        childMemory.data = sandbox.data;
        childMemory.gauge = ChildConfinement::openMappedGauge();
    }
    sandbox.descriptors = descriptorLimit;
    if (!DecoderSandbox::enter(sandbox))
        return 1;

        // Giving libraries up needs every symbol bound already (the program starts decoders so). (The
        // sanitizers' own libraries and handlers stay whole.)
#if defined(OVN_DECODER_WATCHED)
    const bool splits = false;
#else
    const bool splits = threads == 1 && std::getenv("LD_BIND_NOW");
#endif
    // Confined already, and with no more than the runtime's own state yet: a thumbnail decoder's
    // minimal template is forked now (see runMinimalTemplate).
#ifdef OVN_DECODER_TEST_TRIGGERS
    if (const char *hang = std::getenv("OVN_DECODER_TEST_HANG"))
        minimalHang = hang;
#endif
    const ForkedTemplate minimal = splits ? startForkedTemplate(::getpid(), minimalTemplateName, runMinimalTemplate)
                                          : ForkedTemplate{};
    minimalLink = minimal.socket;

    keepOnlyCharacterTypeLocale();
    // Qt's own event dispatcher, not GLib's: a template gives GLib up (see TemplateLibraries.h).
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication application(argc, argv);
    // The libraries' messages go to the log from every child without each installing the route.
    LibraryMessages::install();
    // Where the movie readers' module lies, found once here: Qt keeps the answer, which a child
    // could not find out itself (its /proc/self is none of its reading).
    QCoreApplication::applicationDirPath();
    PictureReaders::registerAll();
    // The decoding budget is sized here, from the data limit every child keeps: a child finds it
    // made rather than asking the system again and registering its end.
    DecodeMemoryBudget::shared();
#ifdef OVN_DECODER_TEST_TRIGGERS
    testSwitches();
#endif

    // The template: a child per request, forked from here, where nothing of any file ever was. A
    // thumbnail decoder's usual files are read by children of a template that gave up the
    // libraries they never reach; the rest by children of a whole template forked from this one.
    const pid_t self = ::getpid();
    // Before the whole template is forked, which hears of its own children's ends the same way.
    childEnds();
    ForkedTemplate whole;
    bool maySplit = splits;
    bool split = false;
    readyHeapForChildren();
    for (bool first = true;; first = false) {
        // The split costs a fork and the giving up: a decoder that reads one file (a command that
        // decodes one picture) pays neither, its file's child forked from this template whole. The
        // split waits for the second request, before it is read: neither template ever holds a
        // request's bytes or its file's descriptors when it forks the other.
        if (maySplit && !first && requestComing()) {
            maySplit = false;
            whole =
                startForkedTemplate(self, wholeTemplateName, [threads](int link) { runWholeTemplate(link, threads); });
            split = whole.pid > 0 && TemplateLibraries::giveUpUnusual();
            readyHeapForChildren();
        }
        quint32 length = 0;
        std::vector<int> descriptors;
        const bool read = readLength(length, descriptors);
        QByteArray body;
        Outcome outcome = Outcome::ProgramGone;
        if (read && length <= DecoderProtocol::maxMapBytes) {
            body = QByteArray(qsizetype(length), Qt::Uninitialized);
            if (!DecoderProtocol::readAll(DecoderProtocol::socketDescriptor, body.data(), length))
                closeAll(descriptors);
            else if (minimal.socket >= 0 && forMinimalTemplate(body, descriptors, threads == 1))
                outcome = passToTemplate(minimal.socket, body, descriptors);
            else if (!split || isUsual(body, descriptors, threads == 1))
                outcome = serveRequest(
                    bytesOf(body), descriptors, split ? Fork::Usual : Fork::Whole, whole.socket,
                    [&](auto addressSpace) { return serve(self, threads == 1, addressSpace, body, descriptors); });
            else
                outcome = passToTemplate(whole.socket, body, descriptors);
        } else {
            closeAll(descriptors);
        }
        // The libraries given up hold destructors that must not run: the template ends with _exit.
        if (outcome != Outcome::Next) {
            endForkedTemplate(whole.pid, whole.socket);
            endForkedTemplate(minimal.pid, minimal.socket);
            _exit(outcome == Outcome::ProgramGone ? 0 : 1);
        }
    }
}
