// ovn-decoder MEMORY THREADS: decodes media files for MediaDecoder (see MediaDecoder.h), one
// request after another, over the socket it finds as descriptor 3 (see MediaDecoder_p.h). Run
// by the program, never by people. MEMORY is its data limit in bytes (0: none, in sanitizer
// builds, where the caller watches it instead); THREADS the threads a movie decoder may use (0:
// as many as FFmpeg likes).
//
// Before its first request it gives up what a decoder never needs (see DecoderSandbox.h): it
// cannot write or remove files, start programs or open network connections. An allocation that
// fails ends it with exitOutOfMemory, which the caller lists as a file that needs more memory.

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/DecoderSandbox.h"
#include "decoding/ImageFileReader.h"
#include "decoding/MediaDecoder_p.h"
#include "decoding/Movie.h"
#include "decoding/PictureData.h"
#include "decoding/RawDecoder.h"
#include "formats/OVNRAWImporter.h"
#include "formats/PBMImageRep.h"
#include "platform/HeapTuning.h"

#include <QCoreApplication>
#include <QFile>

#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <new>

#ifndef OVN_DECODER_WATCHED
// Every allocation of the decoder and its libraries comes here first: one that fails means the
// file needs more memory than the decoder's limit, and the decoder ends at once rather than let
// a library carry on with a half-made picture.
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void __libc_free(void *pointer);

[[noreturn]] static void outOfMemory() { _exit(DecoderProtocol::exitOutOfMemory); }

void *malloc(size_t size) noexcept
{
    void *pointer = __libc_malloc(size);
    if (!pointer && size > 0)
        outOfMemory();
    return pointer;
}

void *calloc(size_t count, size_t size) noexcept
{
    void *pointer = __libc_calloc(count, size);
    if (!pointer && count > 0 && size > 0)
        outOfMemory();
    return pointer;
}

void *realloc(void *pointer, size_t size) noexcept
{
    void *moved = __libc_realloc(pointer, size);
    if (!moved && size > 0)
        outOfMemory();
    return moved;
}

void free(void *pointer) noexcept { __libc_free(pointer); }
}
#endif

namespace {

QString text(const char *key) { return QString::fromLatin1(key); }

bool readExactly(char *into, size_t size)
{
    while (size > 0) {
        const ssize_t count = ::read(DecoderProtocol::socketDescriptor, into, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        into += count;
        size -= size_t(count);
    }
    return true;
}

bool reply(QVariantMap map, const QImage &image = QImage())
{
    if (!image.isNull()) {
        DecoderProtocol::describe(image, map);
        map.insert(text("pictureBytes"), qint64(image.sizeInBytes()));
    }
    const QByteArray body = DecoderProtocol::encode(map);
    const quint32 length = quint32(body.size());
    return DecoderProtocol::writeAll(DecoderProtocol::socketDescriptor, reinterpret_cast<const char *>(&length),
                                     sizeof length)
           && DecoderProtocol::writeAll(DecoderProtocol::socketDescriptor, body.constData(), body.size())
           && (image.isNull()
               || DecoderProtocol::writeAll(DecoderProtocol::socketDescriptor,
                                            reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes()));
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
// Test builds only: a path that contains the text of OVN_DECODER_TEST_CRASH makes the decoder
// crash, of OVN_DECODER_TEST_HANG hang in a system call, as a fault inside a library or a read
// on a stalled mount would; of OVN_DECODER_TEST_WAIT wait until a file "PATH.go" exists (a slow
// file the test lets go); of OVN_DECODER_TEST_PROBE try what the sandbox refuses and report it as
// the file's damage.
void testTriggers(const QString &path)
{
    const QString crash = qEnvironmentVariable("OVN_DECODER_TEST_CRASH");
    if (!crash.isEmpty() && path.contains(crash))
        ::raise(SIGSEGV);
    const QString hang = qEnvironmentVariable("OVN_DECODER_TEST_HANG");
    if (!hang.isEmpty() && path.contains(hang))
        for (;;)
            ::pause();
    const QString wait = qEnvironmentVariable("OVN_DECODER_TEST_WAIT");
    if (!wait.isEmpty() && path.contains(wait))
        while (!QFile::exists(path + QStringLiteral(".go")))
            ::usleep(20'000);
}
#endif

class Decoder
{
public:
    QVariantMap handle(const QVariantMap &request, QImage &image);

private:
    std::unique_ptr<Movie> m_movie;
};

QVariantMap Decoder::handle(const QVariantMap &request, QImage &image)
{
    const QString operation = request.value(text("operation")).toString();
    const QString path = request.value(text("path")).toString();
#ifdef OVN_DECODER_TEST_TRIGGERS
    testTriggers(path);
    const QString probe = qEnvironmentVariable("OVN_DECODER_TEST_PROBE");
    if (!probe.isEmpty() && path.contains(probe))
        return DecoderSandbox::probe(path + QStringLiteral(".written"));
#endif
    QVariantMap answer;
    ImageFileReader::Facts facts;
    if (operation == QLatin1String("read")) {
        image = ImageFileReader::read(path, boxOf(request), &facts);
    } else if (operation == QLatin1String("readRaw")) {
        const QByteArray data = ImageFileReader::readWholeFile(path);
        OVNRAWImporter importer;
        if (!data.isEmpty())
            importer.setData(data);
        if (!data.isEmpty() && importer.status() == OVNRAWImporter::Identified) {
            answer.insert(text("metadata"), importer.metadata());
            image = ImageFileReader::readRaw(data, boxOf(request), &facts);
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
        const QByteArray data = ImageFileReader::readWholeFile(path);
        if (!data.isEmpty()) {
            OVNRAWImporter importer;
            importer.setData(data);
            importer.processImageBufferWithShrinkFactor(request.value(text("shrink")).toInt());
            image = importer.image();
            // Only what the caller's box needs crosses the socket.
            if (const QSize box = boxOf(request); box.isValid() && !image.isNull())
                image = image.scaled(ImageFileReader::fittedSize(image.size(), box), Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
        }
    } else if (operation == QLatin1String("readData")) {
        QSize stored;
        image = PictureData::decodeToFit(request.value(text("data")).toByteArray(), boxOf(request), &stored);
        facts.size = stored;
    } else if (operation == QLatin1String("openMovie")) {
        QString error;
        m_movie = Movie::open(path, &error);
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
    } else if (operation == QLatin1String("movieFrame")) {
        if (m_movie) {
            const MovieTime time{request.value(text("timeValue")).toLongLong(),
                                 qint32(request.value(text("timeScale")).toInt())};
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

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const long long memory = std::atoll(argv[1]);
    const int threads = std::atoi(argv[2]);
    std::set_new_handler([] { _exit(DecoderProtocol::exitOutOfMemory); });
    // A decoder reads file after file of about the same size: each reuses the last one's buffers
    // instead of mapping and zeroing fresh pages (within its data limit all the same).
    HeapTuning::keepFreedMemoryForReuse(std::size_t(64) << 20);
    if (memory > 0) {
        const rlimit bounds{rlim_t(memory), rlim_t(memory)};
        if (setrlimit(RLIMIT_DATA, &bounds) != 0)
            return 1;
    }
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (threads > 0)
        qputenv("OVN_MOVIE_DECODE_THREADS", QByteArray::number(threads));
    // Pages of PDF documents are drawn here, bounded by this decoder's own limits.
    qputenv("OVN_DRAW_PAGES_IN_PROCESS", "1");

    // Nothing the program had open but the socket: a descriptor open for writing that a spawn
    // let through would be a way round the sandbox.
    ::syscall(SYS_close_range, DecoderProtocol::socketDescriptor + 1, ~0U, 0);

    QCoreApplication application(argc, argv);
    PBMImageRep::registerImageRepClass();
    if (!DecoderSandbox::enter())
        return 1;

    Decoder decoder;
    for (;;) {
        quint32 length = 0;
        if (!readExactly(reinterpret_cast<char *>(&length), sizeof length) || length > DecoderProtocol::maxMapBytes)
            return 0;
        QByteArray body(qsizetype(length), Qt::Uninitialized);
        if (!readExactly(body.data(), length))
            return 0;
        const QVariantMap request = DecoderProtocol::decode(body);
        const qint64 milliseconds = std::max<qint64>(1, request.value(text("milliseconds")).toLongLong());
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
        }
        if (!reply(answer, image))
            return 0;
    }
}
