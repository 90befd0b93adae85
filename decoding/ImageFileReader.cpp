#include "decoding/ImageFileReader.h"

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "platform/FileAccess.h"
#include "decoding/JpegDecoder.h"
#include "decoding/LibraryMessages.h"
#include "decoding/PictureRows.h"
#include "decoding/PngReader.h"
#include "decoding/RawDecoder.h"
#include "decoding/RowSink.h"
#include "decoding/TiffReader.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMutex>
#include <QtEndian>

#include <cmath>
#include <sys/mman.h>
#include <cstring>
#include <optional>
#include <vector>

namespace {

QMutex &registryMutex()
{
    static QMutex mutex;
    return mutex;
}

std::vector<ImageFileReader::ImageRepClass> &registry()
{
    static std::vector<ImageFileReader::ImageRepClass> classes;
    return classes;
}

// A picture decoded whole, fitted into the box on this thread: Qt's smooth scaling would run on
// its thread pool, whose threads' stacks a decoder's memory limit counts.
QImage fitted(QImage image, QSize maxSize)
{
    if (image.isNull() || !maxSize.isValid() || maxSize.isEmpty())
        return image;
    return PictureRows::reduced(image, ImageFileReader::fittedSize(image.size(), maxSize));
}

// The size to ask Qt's reader for. A JPEG is decoded at 1/2, 1/4 or 1/8 of its size in the
// decoder itself when that still covers the target; Qt's JPEG reader does so only below quality
// 50 and for a size that is such a fraction, and the smooth scaling to the target follows.
QSize jpegDecodeSize(QImageReader &reader, QSize size, QSize target)
{
    if (reader.format() != "jpeg")
        return target;
    int factor = 1;
    auto reduced = [&](int f) { return QSize((size.width() + f - 1) / f, (size.height() + f - 1) / f); };
    while (factor < 8 && reduced(factor * 2).width() >= target.width()
           && reduced(factor * 2).height() >= target.height())
        factor *= 2;
    if (factor == 1)
        return target;
    reader.setQuality(49);
    return reduced(factor);
}

qint64 pixelBytes(QSize size, qint64 bytesPerPixel = 4)
{
    return size.isValid() ? DecodeMemoryBudget::product({size.width(), size.height(), bytesPerPixel}) : 0;
}

// A file as Qt's readers see it: every read first asks whether this thread's decodes must stop
// and fails when they must, so a reader ends at its next read of the file.
class InterruptibleFile : public QIODevice
{
public:
    explicit InterruptibleFile(const QString &path)
    {
        if (FileAccess::openRegularFile(m_file, path))
            open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 size() const override { return m_file.size(); }
    bool seek(qint64 position) override { return QIODevice::seek(position) && m_file.seek(position); }

    // Whether a reader asked for bytes past the end of the file since the last clearing: for a
    // reader that asks only for what the picture needs, the file ends before its data does.
    bool readPastEnd() const { return m_readPastEnd; }
    void clearReadPastEnd() { m_readPastEnd = false; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (DecodeInterrupt::shouldStop())
            return -1;
        const qint64 read = m_file.read(data, maxSize);
        if (read < maxSize)
            m_readPastEnd = true;
        return read;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile m_file;
    bool m_readPastEnd = false;
};

enum class Damage { None, EndsEarly, Corrupt };

QString damageText(Damage damage)
{
    switch (damage) {
    case Damage::None:
        break;
    case Damage::EndsEarly:
        return QStringLiteral("the data ends early");
    case Damage::Corrupt:
        return QStringLiteral("the data is corrupt");
    }
    return {};
}

// The length a file's header says the file has, for the formats whose header says it (WebP's
// RIFF size, ICO and cursor entries, an Apple icon's length); -1 when it does not. Their readers
// read what they need at once and so never ask past the end of a file cut short.
qint64 declaredLength(QIODevice *device, const QByteArray &format)
{
    char head[6 + 16 * 16];
    if (!device || !device->seek(0))
        return -1;
    const qint64 got = device->read(head, sizeof head);
    if (format == "webp" && got >= 8 && std::memcmp(head, "RIFF", 4) == 0)
        return qint64(qFromLittleEndian<quint32>(head + 4)) + 8;
    if (format == "icns" && got >= 8 && std::memcmp(head, "icns", 4) == 0)
        return qFromBigEndian<quint32>(head + 4);
    if ((format == "ico" || format == "cur") && got >= 6) {
        const int entries = std::min<int>(qFromLittleEndian<quint16>(head + 4), int((got - 6) / 16));
        qint64 end = -1;
        for (int i = 0; i < entries; ++i) {
            const char *entry = head + 6 + 16 * i;
            end = std::max(end, qint64(qFromLittleEndian<quint32>(entry + 8)) + qFromLittleEndian<quint32>(entry + 12));
        }
        return end;
    }
    return -1;
}

// What a read by Qt's readers says of the file: `format` is the reader's (asked before the read),
// `read` whether the reader succeeded, `warned` whether it warned of damaged data, `image` what it
// left. A reader that fails
// after it made its picture has read its rows up to the fault; asking past the end of the file means the file ends
// before its data. Readers that ask for their data in large pieces whatever the picture needs (GIF, JPEG, XPM) ask past
// the end of every file: a GIF's structure says whether it is whole; Qt's JPEG and XPM readers fail on a file cut
// short.
Damage qtReadDamage(QImageReader &reader, const QByteArray &format, bool read, bool warned, const QImage &image)
{
    auto *file = dynamic_cast<InterruptibleFile *>(reader.device());
    const bool pastEnd = file && file->readPastEnd();
    if (format == "jpeg" && warned && read && file) {
        // Qt's JPEG reader reads on past a corrupt stretch and past the end of a file cut short
        // (where it ends the data itself), with a warning: the file is cut unless it ends with
        // its end marker.
        char tail[2] = {};
        const bool ended = file->seek(std::max<qint64>(0, file->size() - 2)) && file->read(tail, 2) == 2
                           && uchar(tail[0]) == 0xFF && uchar(tail[1]) == 0xD9;
        return ended ? Damage::Corrupt : Damage::EndsEarly;
    }
    const bool chunked = format == "gif" || format == "jpeg" || format == "xpm" || format == "mng" || format == "svg"
                         || format == "svgz";
    if (file && declaredLength(file, format) > file->size())
        return Damage::EndsEarly;
    if (!read && !image.isNull())
        return pastEnd && !chunked ? Damage::EndsEarly : Damage::Corrupt;
    if (pastEnd && !chunked)
        return Damage::EndsEarly;
    return Damage::None;
}

QSize gifScreen(QIODevice *device)
{
    char head[10];
    if (!device || device->peek(head, sizeof head) != qint64(sizeof head) || std::memcmp(head, "GIF", 3) != 0)
        return {};
    return QSize(qFromLittleEndian<quint16>(head + 6), qFromLittleEndian<quint16>(head + 8));
}

// No picture, because the thread's decodes must stop.
QImage stopped(ImageFileReader::Facts *facts)
{
    if (facts)
        facts->refusal = DecodeInterrupt::cancelled() ? ImageFileReader::Facts::Refusal::Cancelled
                                                      : ImageFileReader::Facts::Refusal::OutOfTime;
    return {};
}

// Whether a read takes its share of the decoding budget, or runs within one its caller holds (a
// thread that holds a share never waits for another: that could wait for ever).
enum class Budget { Reserve, AlreadyHeld };

// Reads with Qt, decoding at a reduced size where the format allows it.
QImage readWithQt(QImageReader &reader, QSize maxSize, Budget budget, ImageFileReader::Facts *facts = nullptr)
{
    // Asked first: once a reader has read the header, it may no longer recognise its own format.
    const QByteArray format = reader.format();
    reader.setAutoTransform(false);
    // Qt refuses pictures above 128 MB by default; a camera's full picture may be larger, but no
    // picture may take more than the whole decoding budget.
    const qint64 capacity = DecodeMemoryBudget::shared().capacity();
    reader.setAllocationLimit(int(std::max<qint64>(1, capacity >> 20)));
    // Reading the header may hold the file's bytes (some readers read it whole), no more.
    const qint64 fileBytes = reader.device() ? std::max<qint64>(0, reader.device()->size()) : 0;
    DecodeMemoryBudget::Reservation reservation;
    if (budget == Budget::Reserve)
        reservation = DecodeMemoryBudget::shared().reserve(fileBytes);
    const QSize size = reader.size();
    if (facts)
        facts->size = size;
    if (DecodeInterrupt::shouldStop())
        return stopped(facts);
    // Readers that cannot decode at a reduced size decode the whole picture, which is then
    // averaged down on this thread (Qt's reader would scale it on its thread pool).
    qint64 held = pixelBytes(size);
    if (format == "gif") {
        // Qt's reader draws a GIF's frames on its screen, of the size its header gives whatever
        // the frames' own, over a copy of it.
        const QSize screen = gifScreen(reader.device());
        held = DecodeMemoryBudget::product({std::max(pixelBytes(size), pixelBytes(screen)), 2});
    }
    if (maxSize.isValid() && !maxSize.isEmpty() && size.isValid() && !size.isEmpty()) {
        const QSize target = ImageFileReader::fittedSize(size, maxSize);
        if (target != size && reader.supportsOption(QImageIOHandler::ScaledSize)) {
            const QSize decoded = jpegDecodeSize(reader, size, target);
            reader.setScaledSize(decoded);
            held = DecodeMemoryBudget::sum({pixelBytes(decoded), pixelBytes(target)});
        } else if (target != size) {
            // The row and the averaged picture beside the whole one, and the result.
            held = DecodeMemoryBudget::sum({held, DecodeMemoryBudget::product({pixelBytes(target), 8})});
        }
    }
    held = DecodeMemoryBudget::sum({held, fileBytes});
    // Whatever the header claims: a read that would hold more than the whole budget is refused.
    if (held > capacity) {
        if (facts)
            facts->refusal = ImageFileReader::Facts::Refusal::TooLarge;
        return {};
    }
    if (budget == Budget::Reserve) {
        // Given back before waiting for the whole share: a thread that holds a share never waits.
        reservation.release();
        reservation = DecodeMemoryBudget::shared().reserve(held);
    }
    if (auto *file = dynamic_cast<InterruptibleFile *>(reader.device()))
        file->clearReadPastEnd();
    const int warnings = LibraryMessages::imageDataWarnings();
    QImage image;
    const bool read = reader.read(&image);
    const bool warned = LibraryMessages::imageDataWarnings() != warnings;
    // What a reader stopped on its way gave is not the picture.
    if (DecodeInterrupt::shouldStop())
        return stopped(facts);
    // A damaged file gives what its reader read before the fault, and says so; a reader that left
    // nothing says why it could not.
    DecodeReport::damaged(damageText(qtReadDamage(reader, format, read, warned, image)));
    if (!read && !image.isNull() && format == "jpeg") {
        // Qt's JPEG reader leaves the rows after a fault as they were: libjpeg's rows up to it,
        // the rest grey, through our decoder.
        auto *file = dynamic_cast<InterruptibleFile *>(reader.device());
        const QByteArray data = file && file->size() <= ImageFileReader::maxWholeFileBytes && file->seek(0)
                                    ? file->readAll()
                                    : QByteArray();
        image = JpegDecoder::decode(data.constData(), size_t(data.size())).image;
    } else if (!read) {
        // What other readers leave after a fault is not known to be rows of the picture (they turn
        // or convert the picture when it is complete, or leave rows unwritten): nothing rather
        // than noise.
        image = QImage();
    }
    if (image.isNull())
        return {};
    // Qt's readers give RGB or grey, with the profile the file embeds as the picture's.
    const bool grey = image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_Grayscale16;
    DecodeReport::colour(grey ? QStringLiteral("grey") : QStringLiteral("RGB"),
                         image.colorSpace().isValid() ? image.colorSpace().iccProfile() : QByteArray());
    return fitted(std::move(image), maxSize);
}

// The reduction of a camera RAW decode for a picture of `full` pixels wanted in `maxSize`.
int rawShrink(QSize full, QSize maxSize)
{
    int shrink = 0;
    if (maxSize.isValid() && !maxSize.isEmpty()) {
        const QSize target = ImageFileReader::fittedSize(full, maxSize);
        while (shrink < 4 && (full.width() >> (shrink + 1)) >= target.width()
               && (full.height() >> (shrink + 1)) >= target.height())
            ++shrink;
    }
    return shrink;
}

RawDecoder::Options rawOptions(int shrink)
{
    return {shrink, shrink > 0 ? RawDecoder::Interpolation::Quick : RawDecoder::Interpolation::Full};
}

QImage rgbToImage(const RawDecoder::Image &rgb)
{
    QImage image(rgb.width, rgb.height, QImage::Format_RGB888);
    if (image.isNull())
        return {};
    const qsizetype rowBytes = qsizetype(rgb.width) * 3;
    for (int y = 0; y < rgb.height; ++y)
        std::memcpy(image.scanLine(y), rgb.rgb.constData() + y * rowBytes, size_t(rowBytes));
    return image;
}

// A JPEG's rows decoded at a reduced DCT scale, averaged into the box as they come (PictureRows):
// what the read holds is the reduced picture and libjpeg's own buffers (a band of rows, and a file
// of several scans' coefficients), taken from the budget in one share. A picture the box does not
// reduce is declined, to be decoded whole in its own pixels.
class ReducedJpegRows : public RowSink
{
public:
    ReducedJpegRows(QSize box, ImageFileReader::Facts *facts) : m_box(box), m_facts(facts) {}
    void setColourProfile(const QByteArray &icc) override { m_icc = RowSink::rgbProfile(icc); }
    bool takeReaderShare(qint64 bytes) override
    {
        m_readerBytes = bytes;
        return true;
    }
    bool begin(QSize size, Pixels pixels) override
    {
        if (ImageFileReader::fittedSize(size, m_box) == size)
            return false;
        m_grey = pixels == Pixels::Grey8;
        m_rows.emplace(size, m_box);
        m_begun = true;
        return m_rows->start(m_readerBytes, m_facts);
    }
    bool addRows(const uchar *first, qsizetype bytesPerLine, int count) override
    {
        const int width = m_rows->size().width();
        for (int i = 0; i < count && !m_rows->isComplete(); ++i) {
            const uchar *line = first + qsizetype(i) * bytesPerLine;
            QRgb *row = m_rows->row();
            if (m_grey)
                for (int x = 0; x < width; ++x)
                    row[x] = qRgb(line[x], line[x], line[x]);
            else
                std::memcpy(row, line, size_t(width) * sizeof(QRgb));
            m_rows->next();
        }
        return true;
    }
    // Whether the picture was taken (not declined as one the box does not reduce).
    bool begun() const { return m_begun; }
    // The reduced picture: grey where the file is, with the colour profile of its RGB rows.
    QImage take()
    {
        QImage image = m_rows ? m_rows->take() : QImage();
        if (m_grey && !image.isNull())
            image = image.convertToFormat(QImage::Format_Grayscale8);
        if (!m_icc.isEmpty() && !image.isNull())
            image.setColorSpace(QColorSpace::fromIccProfile(m_icc));
        return image;
    }

private:
    QSize m_box;
    ImageFileReader::Facts *m_facts;
    QByteArray m_icc;
    std::optional<PictureRows> m_rows;
    qint64 m_readerBytes = 0;
    bool m_grey = false;
    bool m_begun = false;
};

// A JPEG's picture straight through libjpeg, reduced in its DCT and as its rows come where the box
// is smaller, else decoded whole; nullopt leaves the file to Qt's readers (not a JPEG, or a kind
// of JPEG decoded there).
std::optional<QImage> readJpegReduced(const QString &path, QSize maxSize, ImageFileReader::Facts *facts)
{
    QFile file;
    if (!FileAccess::openRegularFile(file, path))
        return QImage();
    char head[3];
    if (file.peek(head, sizeof head) != sizeof head || !JpegDecoder::looksLikeJpeg(head, sizeof head))
        return std::nullopt;
    if (file.size() > ImageFileReader::maxWholeFileBytes)
        return QImage();
    // Read a piece at a time, never held whole; a file that grows while it is read stops at the
    // cap all the same.
    {
        ReducedJpegRows rows(maxSize, facts);
        QSize full;
        const JpegDecoder::Streamed streamed =
            JpegDecoder::stream(file, ImageFileReader::maxWholeFileBytes, rows, &full, maxSize);
        if (streamed == JpegDecoder::Streamed::Unsupported)
            return std::nullopt;
        // The stored size whatever became of the picture: what the header says is kept.
        if (facts && full.isValid())
            facts->size = full;
        if (rows.begun() || streamed != JpegDecoder::Streamed::Declined) {
            QImage image = streamed == JpegDecoder::Streamed::Whole ? rows.take() : QImage();
            // The size fitted from the stored picture's, not from the decoded one's rounded sides.
            const QSize target = ImageFileReader::fittedSize(full, maxSize);
            if (image.isNull() || image.size() == target)
                return image;
            return PictureRows::reduced(image, target);
        }
        if (!file.seek(0))
            return QImage();
    }
    const qint64 held = JpegDecoder::decodeBytes(file, maxSize);
    // Nothing is held for a picture the decoder would refuse: more than the whole budget.
    if (held > DecodeMemoryBudget::shared().capacity() && facts)
        facts->refusal = ImageFileReader::Facts::Refusal::TooLarge;
    if (held <= 0 || held > DecodeMemoryBudget::shared().capacity())
        return QImage();
    const DecodeMemoryBudget::Reservation reservation = DecodeMemoryBudget::shared().reserve(held);
    JpegDecoder::Result result = JpegDecoder::decode(file, ImageFileReader::maxWholeFileBytes, maxSize);
    if (result.status == JpegDecoder::Status::Unsupported)
        return std::nullopt;
    if (result.image.isNull())
        return QImage();
    if (facts)
        facts->size = result.fullSize;
    const QSize target = ImageFileReader::fittedSize(result.fullSize, maxSize);
    if (result.image.size() == target)
        return std::move(result.image);
    return PictureRows::reduced(result.image, target);
}

// A whole picture made of the rows a streamed read hands on, within the decoding budget.
class WholePicture : public RowSink
{
public:
    void setColourProfile(const QByteArray &icc) override { m_space = QColorSpace::fromIccProfile(icc); }
    bool begin(QSize size, Pixels pixels) override
    {
        m_begun = true;
        const qint64 bytes = pixelBytes(size, pixels == Pixels::Grey8 ? 1 : 4);
        if (bytes > DecodeMemoryBudget::shared().capacity()) {
            m_tooLarge = true;
            return false;
        }
        m_reservation = DecodeMemoryBudget::shared().reserve(bytes);
        m_image = QImage(size, pixels == Pixels::Grey8                 ? QImage::Format_Grayscale8
                               : pixels == Pixels::PremultipliedArgb32 ? QImage::Format_ARGB32_Premultiplied
                                                                       : QImage::Format_RGB32);
        m_tooLarge = m_image.isNull();
        return !m_image.isNull();
    }
    bool addRows(const uchar *first, qsizetype bytesPerLine, int count) override
    {
        const qsizetype rowBytes =
            qMin<qsizetype>(m_image.bytesPerLine(), qsizetype(m_image.width()) * m_image.depth() / 8);
        for (int i = 0; i < count && m_rows < m_image.height(); ++i, ++m_rows)
            std::memcpy(m_image.scanLine(m_rows), first + qsizetype(i) * bytesPerLine, size_t(rowBytes));
        return true;
    }
    bool begun() const { return m_begun; }
    bool tooLarge() const { return m_tooLarge; }
    // Where every pixel is opaque, RGB32: the same pixels.
    QImage take()
    {
        if (m_image.format() == QImage::Format_ARGB32_Premultiplied) {
            bool opaque = true;
            for (int y = 0; y < m_image.height() && opaque; ++y) {
                const auto *line = reinterpret_cast<const QRgb *>(m_image.constScanLine(y));
                for (int x = 0; x < m_image.width() && opaque; ++x)
                    opaque = qAlpha(line[x]) == 255;
            }
            if (opaque)
                m_image.reinterpretAsFormat(QImage::Format_RGB32);
        }
        if (m_space.isValid())
            m_image.setColorSpace(m_space);
        return std::move(m_image);
    }

private:
    QImage m_image;
    QColorSpace m_space;
    DecodeMemoryBudget::Reservation m_reservation;
    int m_rows = 0;
    bool m_begun = false;
    bool m_tooLarge = false;
};

// The first headBytes of a regular file just opened (fewer where it is shorter), read where they
// lie: a peek would fill the file's own buffer (16 KiB, a fresh page a kilobyte in a decoder's
// child) that the readers after it, which read a buffer of their own or the file again, do not use.
QByteArray headOf(QFile &file)
{
    const int fd = file.handle();
    if (fd < 0 || file.pos() != 0)
        return file.peek(ImageFileReader::headBytes);
    QByteArray head(ImageFileReader::headBytes, Qt::Uninitialized);
    qint64 got = 0;
    while (got < head.size()) {
        const ssize_t read = ::pread(fd, head.data() + got, size_t(head.size() - got), off_t(got));
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            break;
        got += read;
    }
    head.truncate(got);
    return head;
}

// A registered reader's functions, without its file types: those stay in the registry, whose
// shared lists a copy would write to (their reference counts), a page each in a decoder's child.
struct RegisteredReader {
    QSize (*pictureSize)(const QByteArray &head);
    QImage (*imageWithDevice)(QIODevice &device, QSize box, ImageFileReader::Facts *facts);
    bool movieStill;
};

// The registered reader of the file whose first bytes are `head`: one registered for its extension
// whose header it is, else one that tells its files by their content.
std::optional<RegisteredReader> registeredReader(const QByteArray &head, const QString &suffix)
{
    QMutexLocker lock(&registryMutex());
    for (const bool byName : {true, false})
        for (const ImageFileReader::ImageRepClass &repClass : registry())
            if ((byName ? repClass.fileTypes.contains(suffix)
                        : repClass.byContent && !repClass.fileTypes.contains(suffix))
                && repClass.pictureSize(head).isValid())
                return RegisteredReader{repClass.pictureSize, repClass.imageWithDevice, repClass.movieStill};
    return std::nullopt;
}

bool isTiffName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("tif") || suffix == QLatin1String("tiff");
}

} // namespace

void ImageFileReader::registerImageRepClass(const ImageRepClass &repClass)
{
    QMutexLocker lock(&registryMutex());
    for (const ImageRepClass &known : registry())
        if (known.imageWithDevice == repClass.imageWithDevice)
            return;
    registry().push_back(repClass);
}

QStringList ImageFileReader::registeredFileTypes()
{
    QMutexLocker lock(&registryMutex());
    QStringList types;
    for (const ImageRepClass &known : registry())
        types += known.fileTypes;
    return types;
}

QSize ImageFileReader::movieStillSize(const QString &path)
{
    QFile file;
    if (!FileAccess::openRegularFile(file, path))
        return {};
    const QByteArray head = headOf(file);
    const std::optional<RegisteredReader> repClass = registeredReader(head, QFileInfo(path).suffix().toLower());
    return repClass && repClass->movieStill ? repClass->pictureSize(head) : QSize();
}

QString ImageFileReader::refusalText(Facts::Refusal refusal)
{
    switch (refusal) {
    case Facts::Refusal::None:
        break;
    case Facts::Refusal::TooLarge:
        return QStringLiteral("the picture needs more memory than decoding may use");
    case Facts::Refusal::OutOfTime:
        return QStringLiteral("the picture could not be read in time");
    case Facts::Refusal::Cancelled:
        return QStringLiteral("reading the file was cancelled");
    case Facts::Refusal::Crashed:
        return QStringLiteral("the picture's reader stopped on a fault in the file");
    case Facts::Refusal::EndedFromOutside:
        return QStringLiteral("the picture's reader was ended from outside the program");
    }
    return {};
}

QString ImageFileReader::noPictureText(Facts::Refusal refusal, const QString &damage, const QString &unsupported)
{
    if (refusal != Facts::Refusal::None)
        return refusalText(refusal);
    if (!damage.isEmpty())
        return damagedText(damage);
    if (!unsupported.isEmpty())
        return DecodeReport::unsupportedText(unsupported);
    return QStringLiteral("the picture cannot be read");
}

QString ImageFileReader::damagedText(const QString &damage)
{
    return QStringLiteral("the file is damaged (%1)").arg(damage);
}

QSize ImageFileReader::fittedSize(QSize size, QSize box)
{
    if (size.isEmpty() || box.isEmpty())
        return size;
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    const double scale = std::min(double(box.width()) / size.width(), double(box.height()) / size.height());
    return QSize(std::max(1, int(std::lround(size.width() * scale))),
                 std::max(1, int(std::lround(size.height() * scale))));
}

namespace {

// The picture of an opened RAW decoder: the camera's preview when it serves, else a decode. The
// caller holds the decode's share of the budget.
QImage decodeRaw(RawDecoder &decoder, QSize maxSize, ImageFileReader::Facts *facts)
{
    const RawDecoder::Info &info = decoder.info();
    const QSize full(info.width, info.height);
    if (facts) {
        facts->size = full;
        facts->orientation = RawDecoder::exifOrientation(info.flip);
    }
    if (maxSize.isValid() && !maxSize.isEmpty()) {
        const QSize target = ImageFileReader::fittedSize(full, maxSize);
        // The camera's own preview serves when it is large enough and shaped like the picture.
        const QByteArray jpeg = decoder.embeddedJpeg();
        if (!jpeg.isEmpty()) {
            QBuffer buffer;
            buffer.setData(jpeg);
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer, "jpeg");
            const QSize preview = reader.size();
            const bool sameShape =
                preview.isValid() && !preview.isEmpty()
                && std::abs(double(preview.width()) / preview.height() - double(full.width()) / full.height()) < 0.02;
            if (sameShape && preview.width() >= target.width() && preview.height() >= target.height()) {
                QImage image = readWithQt(reader, maxSize, Budget::AlreadyHeld);
                if (!image.isNull())
                    return image;
            }
        }
    }
    if (const auto rgb = decoder.decode(rawOptions(rawShrink(full, maxSize))))
        return fitted(rgbToImage(*rgb), maxSize);
    // The raw data cannot be decoded (a file cut short): the camera's preview, whatever its size,
    // is all there is of the picture.
    const QByteArray jpeg = decoder.embeddedJpeg();
    if (jpeg.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(jpeg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    QImage image = readWithQt(reader, maxSize, Budget::AlreadyHeld);
    if (!image.isNull() && facts)
        facts->previewOnly = true;
    return image;
}

} // namespace

QByteArray ImageFileReader::readWholeFile(const QString &path)
{
    QFile file;
    if (!FileAccess::openRegularFile(file, path) || file.size() > maxWholeFileBytes)
        return {};
    // A file that grows while it is read stops at the cap all the same.
    return FileAccess::readAtMost(file, maxWholeFileBytes);
}

ImageFileReader::WholeFile::WholeFile(const QString &path)
{
    QFile file;
    if (!FileAccess::openRegularFile(file, path) || file.size() > maxWholeFileBytes || file.size() <= 0)
        return;
    const qsizetype size = qsizetype(file.size());
    void *map = ::mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, file.handle(), 0);
    if (map == MAP_FAILED) {
        m_bytes = FileAccess::readAtMost(file, maxWholeFileBytes);
        return;
    }
    m_map = map;
    m_mapped = size;
    m_bytes = QByteArray::fromRawData(static_cast<const char *>(map), size);
}

ImageFileReader::WholeFile::~WholeFile()
{
    m_bytes = QByteArray();
    if (m_map)
        ::munmap(m_map, size_t(m_mapped));
}

QImage ImageFileReader::readRaw(const QByteArray &data, QSize maxSize, Facts *facts)
{
    LibraryMessages::install();
    RawDecoder decoder;
    if (!decoder.open(data))
        return {};
    const QSize full(decoder.info().width, decoder.info().height);
    const DecodeMemoryBudget::Reservation reservation = DecodeMemoryBudget::shared().reserve(
        data.size() + RawDecoder::decodeBytes(decoder.info(), rawOptions(rawShrink(full, maxSize))));
    return decodeRaw(decoder, maxSize, facts);
}

QImage ImageFileReader::read(const QString &path, QSize maxSize, Facts *facts)
{
    // Devices and pipes behind a picture's name would be read for ever, or block.
    QFile file;
    if (!FileAccess::openRegularFile(file, path))
        return {};
    LibraryMessages::install();
    if (DecodeInterrupt::shouldStop())
        return stopped(facts);
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QByteArray head = headOf(file);
    if (const std::optional<RegisteredReader> repClass = registeredReader(head, suffix)) {
        // The registered readers read the file as it comes, a row at a time, and take their
        // share of the decoding budget themselves.
        QImage image = repClass->imageWithDevice(file, maxSize, facts);
        if (image.isNull() && DecodeInterrupt::shouldStop())
            return stopped(facts);
        return image;
    }

    // (Peeked here first: a file that is no JPEG is not opened again for it.) A JPEG of inks is read
    // here at its own size too: Qt's reader would turn its inks into RGB without their profile.
    if (head.size() >= 3 && JpegDecoder::looksLikeJpeg(head.constData(), 3)
        && ((maxSize.isValid() && !maxSize.isEmpty()) || JpegDecoder::storesInks(file))) {
        if (std::optional<QImage> jpeg = readJpegReduced(path, maxSize, facts))
            return jpeg->isNull() && DecodeInterrupt::shouldStop() ? stopped(facts) : std::move(*jpeg);
    }

    if (head.size() >= 8 && PngReader::looksLikePng(head.constData(), 8)) {
        PngReader::Result png = PngReader::read(path, maxSize);
        if (facts) {
            facts->size = png.size;
            if (png.tooLarge)
                facts->refusal = Facts::Refusal::TooLarge;
        }
        if (png.image.isNull() && DecodeInterrupt::shouldStop())
            return stopped(facts);
        return std::move(png.image);
    }

    // A JPEG left to Qt's reader (the whole picture, or a kind libjpeg's own road leaves there) is
    // held to the same number of scans: Qt's reader goes over the whole picture once a scan, and
    // asks no deadline on the way.
    if (char head[3];
        file.peek(head, sizeof head) == qint64(sizeof head) && JpegDecoder::looksLikeJpeg(head, sizeof head)) {
        const int scans = JpegDecoder::scanCount(file);
        if (scans < 0)
            return stopped(facts);
        if (scans > JpegDecoder::maxScans)
            return {};
    }

    InterruptibleFile device(path);
    QImageReader reader(&device);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    // Most camera RAW files are TIFF inside, and Qt would show their small first-page thumbnail;
    // others Qt does not know at all. Both go to the RAW decoder first.
    std::optional<RawDecoder::Info> raw;
    if (format.isEmpty() || (format == "tiff" && !isTiffName(path))) {
        QImage image;
        // The header tells what the decode will hold; the file is read whole once that is free.
        if (const std::optional<RawDecoder::Info> info = (raw = RawDecoder::identifyFile(path))) {
            const QSize full(info->width, info->height);
            const DecodeMemoryBudget::Reservation reservation = DecodeMemoryBudget::shared().reserve(
                QFileInfo(path).size() + RawDecoder::decodeBytes(*info, rawOptions(rawShrink(full, maxSize))));
            const WholeFile whole(path);
            const QByteArray &data = whole.bytes();
            RawDecoder decoder;
            if (decoder.open(data))
                image = decodeRaw(decoder, maxSize, facts);
            // The camera's data is not in the file: the decode noted the damage, and the picture
            // the TIFF structure leads with is the raw data's own description, not a preview.
            if (image.isNull() && info->dataPastEnd)
                return {};
        }
        if (image.isNull() && DecodeInterrupt::shouldStop())
            return stopped(facts);
        // A file no reader recognises, of a format whose header says how long it is: a file cut
        // short is damaged, not of an unknown kind.
        if (image.isNull() && format.isEmpty() && declaredLength(&device, suffix.toLatin1()) > device.size())
            DecodeReport::damaged(damageText(Damage::EndsEarly));
        if (!image.isNull() || format.isEmpty())
            return image;
        if (facts)
            *facts = Facts{};
    }
    QImage image;
    QString tiffWords;
    // (A camera RAW file's TIFF structure is no TIFF picture: its first image is read as before.)
    const TiffReader::Layout tiffLayout = format == "tiff" && !raw ? TiffReader::layout(path, &tiffWords)
                                                                   : TiffReader::Layout::Common;
    if (tiffLayout == TiffReader::Layout::OwnRows) {
        // A layout Qt's TIFF reader refuses (16-bit CMYK, for one), read by rows of samples here
        // at any size.
        QSize full;
        bool tooLarge = false;
        image = fitted(TiffReader::read(path, maxSize, &full, &tooLarge), maxSize);
        if (facts && full.isValid())
            facts->size = full;
        if (image.isNull() && DecodeInterrupt::shouldStop())
            return stopped(facts);
        if (facts && tooLarge)
            facts->refusal = Facts::Refusal::TooLarge;
        return image;
    }
    if (tiffLayout == TiffReader::Layout::Unsupported) {
        // Qt's reader may still know it; its refusal of a sound file it cannot read is no damage.
        {
            const DecodeReport::Scope quiet;
            image = readWithQt(reader, maxSize, Budget::Reserve, facts);
        }
        if (image.isNull() && DecodeInterrupt::shouldStop())
            return stopped(facts);
        if (image.isNull() && (!facts || facts->refusal == Facts::Refusal::None) && DecodeReport::noted().isEmpty())
            DecodeReport::unsupported(QStringLiteral("a TIFF of %1").arg(tiffWords));
        return image;
    }
    // A large TIFF is read a band of rows at a time rather than whole.
    if (format == "tiff" && maxSize.isValid() && !maxSize.isEmpty()) {
        QSize full;
        image = fitted(TiffReader::readReduced(path, maxSize, &full), maxSize);
        if (facts && full.isValid())
            facts->size = full;
        if (image.isNull() && DecodeInterrupt::shouldStop())
            return stopped(facts);
    }
    // A whole TIFF is read a band of rows at a time into a picture of four bytes a pixel, whatever
    // its samples (Qt's reader would hold sixteen-bit samples at eight bytes a pixel).
    if (format == "tiff" && !(maxSize.isValid() && !maxSize.isEmpty()) && image.isNull()) {
        WholePicture whole;
        QSize full;
        const bool read = TiffReader::stream(path, whole, &full) == TiffReader::Streamed::Whole;
        if (facts && full.isValid())
            facts->size = full;
        if (whole.begun()) {
            if (!read && DecodeInterrupt::shouldStop())
                return stopped(facts);
            if (!read && facts && whole.tooLarge())
                facts->refusal = Facts::Refusal::TooLarge;
            return read ? whole.take() : QImage();
        }
    }
    if (image.isNull())
        image = readWithQt(reader, maxSize, Budget::Reserve, facts);
    // Qt's reader gives nothing of a TIFF cut short or damaged part of the way: the strips and
    // tiles before the fault are the picture, the rest grey, as for other damaged files.
    if (image.isNull() && format == "tiff" && !DecodeInterrupt::shouldStop()
        && (!facts || facts->refusal == Facts::Refusal::None)) {
        image = fitted(TiffReader::read(path, maxSize), maxSize);
        if (image.isNull() && DecodeInterrupt::shouldStop())
            return stopped(facts);
    }
    // A camera RAW file whose raw data lies past the end of the file, or is corrupt, is damaged:
    // that its TIFF structure's first picture would need more memory than decoding may use is not
    // why it cannot be read.
    if (raw && image.isNull() && facts && facts->refusal == Facts::Refusal::TooLarge
        && !DecodeReport::noted().isEmpty())
        facts->refusal = Facts::Refusal::None;
    // A camera RAW file whose raw data could not be decoded shows the picture its TIFF structure
    // leads with: the camera's preview.
    if (raw && !image.isNull() && facts) {
        facts->size = QSize(raw->width, raw->height);
        facts->previewOnly = true;
    }
    return image;
}

bool ImageFileReader::stream(const QString &path, RowSink &sink, Facts *facts, QSize box)
{
    QFile file;
    if (!FileAccess::openRegularFile(file, path))
        return false;
    LibraryMessages::install();
    if (DecodeInterrupt::shouldStop()) {
        stopped(facts);
        return false;
    }
    const auto stoppedOr = [&](bool whole) {
        if (!whole && DecodeInterrupt::shouldStop())
            stopped(facts);
        return whole;
    };
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QByteArray head = headOf(file);
    if (const std::optional<RegisteredReader> repClass = registeredReader(head, suffix)) {
        const PictureRows::StreamScope scope(sink);
        const QImage image = repClass->imageWithDevice(file, QSize(), facts);
        return stoppedOr(scope.streamed());
    }
    if (head.size() < 8)
        return false;
    if (JpegDecoder::looksLikeJpeg(head.constData(), 8)) {
        // The stored size is known to the sink's begin(), before the rows come.
        QSize full;
        const JpegDecoder::Streamed streamed =
            JpegDecoder::stream(file, maxWholeFileBytes, sink, facts ? &facts->size : &full, box);
        return stoppedOr(streamed == JpegDecoder::Streamed::Whole);
    }
    if (PngReader::looksLikePng(head.constData(), 8))
        return stoppedOr(PngReader::stream(path, sink) == PngReader::Streamed::Whole);
    // TIFF files by their name (a camera RAW file is TIFF inside, and read otherwise).
    const bool tiff = (head.startsWith(QByteArrayView("II*\0", 4)) || head.startsWith(QByteArrayView("MM\0*", 4)))
                      && isTiffName(path);
    if (tiff) {
        QSize full;
        const TiffReader::Streamed streamed = TiffReader::stream(path, sink, &full);
        if (facts && full.isValid())
            facts->size = full;
        return stoppedOr(streamed == TiffReader::Streamed::Whole);
    }
    return false;
}
