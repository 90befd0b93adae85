// A decoder taken over by a hostile file: every road out of its sandbox, tried from inside it, is
// refused while the same decoder still decodes the next picture right; and no decoder outlives
// the program that started it, however that program ends.

#include "tests/support/TestEnvironment.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/MediaDecoder.h"
#include "decoding/ChildConfinement.h"
#include "tests/support/ConfinementRoads.h"
#include "tests/support/HostileMedia.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

using Use = MediaDecoder::Use;
using namespace std::chrono_literals;

namespace {

// A local socket that listens at `path` while it lives.
class Listener
{
public:
    explicit Listener(const QString &path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
        m_listening = ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
                      && ::listen(m_fd, 4) == 0;
    }
    ~Listener() { ::close(m_fd); }
    bool listening() const { return m_listening; }

private:
    int m_fd = -1;
    bool m_listening = false;
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace

// From the decoder's main thread, from one of Qt's pool threads (started before the request) and
// from a new thread; with Landlock and with Landlock made to look absent, where the filter alone
// must refuse every write, removal, creation, program start, signal, socket and IPC.
TEST(DecoderSandboxTest, EveryRoadOutOfADecoderIsRefusedAndItStillDecodes)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString probe = hostilemedia::written(folder.filePath(QStringLiteral("ovn-decoder-probes.jpg")),
                                                hostilemedia::jpegOfNoise(16, 16, false));
    const QString kept = hostilemedia::written(probe + QStringLiteral(".kept"), "kept");
    hostilemedia::written(probe + QStringLiteral(".private"), "private");
    const QString removable = hostilemedia::written(probe + QStringLiteral(".removable"), "removable");
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("home")));
    hostilemedia::written(folder.filePath(QStringLiteral("home/.pgpass")), "localhost:5432:*:me:secret");
    const Listener listener(probe + QStringLiteral(".sock"));
    ASSERT_TRUE(listener.listening());
    const QString picture =
        hostilemedia::written(folder.filePath(QStringLiteral("picture.jpg")), hostilemedia::jpegOfNoise(96, 64, true));
    const QImage expected(picture);
    ASSERT_FALSE(expected.isNull());
    // The program's secrets: decoders started from here on must not see them.
    qputenv("PGPASSWORD", "secret");
    MediaDecoder::endIdleDecoders();

    for (const bool withLandlock : {true, false}) {
        if (withLandlock && ChildConfinement::landlockVersion() == 0)
            continue;
        SCOPED_TRACE(withLandlock ? "with Landlock" : "Landlock absent");
        if (!withLandlock)
            qputenv("OVN_DECODER_TEST_NO_LANDLOCK", "1");
        // A thumbnail decoder's usual reads (into a box) and the others (at full size) are forked
        // from two templates of their own.
        const struct {
            Use use;
            QSize box;
            const char *name;
        } children[] = {{Use::Thumbnail, QSize(8, 8), "thumbnail decoder, usual child"},
                        {Use::Thumbnail, QSize(), "thumbnail decoder, whole template's child"},
                        {Use::FullSize, QSize(8, 8), "full-size decoder"}};
        for (const auto &[use, box, name] : children) {
            SCOPED_TRACE(name);
            const DecodeInterrupt::Scope limit(nullptr, 60s);
            MediaDecoder decoder(use);
            QMap<QString, QString> tried;
            {
                const DecodeReport::Scope report;
                decoder.read(probe, box);
                tried = confinementroads::outcomes(report.damage().split(QLatin1Char(',')));
            }
            for (const char *thread : confinementroads::threads) {
                for (const confinementroads::Road &road : confinementroads::roads) {
                    const QString outcome = tried.take(confinementroads::key(road.name, thread));
                    // The kernel exempts root from every task cap (ChildConfinementTest tries the
                    // cap as an unprivileged account); without Landlock a read may go through.
                    const bool capExempt = ::geteuid() == 0 && qstrcmp(road.name, "3000 threads") == 0;
                    if ((withLandlock || road.closedByFilter) && !capExempt) {
                        EXPECT_EQ(outcome.toStdString(), "refused") << road.name << " from the " << thread;
                    }
                }
                EXPECT_EQ(tried.take(confinementroads::key("reading", thread)).toStdString(), "taken");
            }
            EXPECT_TRUE(tried.isEmpty()) << "roads this test does not know: " << qPrintable(tried.keys().join(u','));
            EXPECT_EQ(contents(kept), QByteArray("kept"));
            EXPECT_TRUE(QFile::exists(removable));
            for (const char *made : {".written", ".creat", ".folder", ".link", ".renamed"})
                EXPECT_FALSE(QFile::exists(probe + QLatin1String(made))) << made;

            // A decoder, with what the probe did behind it, reads a picture right.
            const QImage read = decoder.read(picture);
            ASSERT_EQ(read.size(), expected.size());
            EXPECT_EQ(read.convertToFormat(QImage::Format_RGB32), expected.convertToFormat(QImage::Format_RGB32));
        }
        qunsetenv("OVN_DECODER_TEST_NO_LANDLOCK");
        MediaDecoder::endIdleDecoders();
    }
    qunsetenv("PGPASSWORD");
}

// One thumbnail decoder forks three kinds of child: its first file's, from the template as it
// started, then, once it has split, the usual files' and the others' (from its whole template).
// Each starts as confined as the others: with Landlock where the kernel has it, and with the
// filter alone. A large file read into a box is a usual file too: its child reads the file where it
// lies and makes no helper thread, and is held all the same.
TEST(DecoderSandboxTest, EachKindOfChildOfOneDecoderStartsConfined)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString probe = hostilemedia::written(folder.filePath(QStringLiteral("ovn-decoder-probes.jpg")),
                                                hostilemedia::jpegOfNoise(16, 16, false));
    const QString kept = hostilemedia::written(probe + QStringLiteral(".kept"), "kept");
    const QString largeProbe = hostilemedia::written(folder.filePath(QStringLiteral("large-ovn-decoder-probes.jpg")),
                                                     hostilemedia::jpegOfNoise(1600, 1600, false));
    ASSERT_GE(QFileInfo(largeProbe).size(), qint64(1) << 20);
    const QString picture =
        hostilemedia::written(folder.filePath(QStringLiteral("picture.jpg")), hostilemedia::jpegOfNoise(96, 64, true));
    const QImage expected(picture);
    ASSERT_FALSE(expected.isNull());
    for (const bool withLandlock : {true, false}) {
        if (withLandlock && ChildConfinement::landlockVersion() == 0)
            continue;
        SCOPED_TRACE(withLandlock ? "with Landlock" : "Landlock absent");
        if (!withLandlock)
            qputenv("OVN_DECODER_TEST_NO_LANDLOCK", "1");
        MediaDecoder::endIdleDecoders();
        const DecodeInterrupt::Scope limit(nullptr, 60s);
        MediaDecoder decoder(Use::Thumbnail);
        const struct {
            QSize box;
            const char *name;
            const QString &file;
        } children[] = {{QSize(8, 8), "the first file's child", probe},
                        {QSize(8, 8), "a usual file's child", probe},
                        {QSize(8, 8), "a large usual file's child", largeProbe},
                        {QSize(), "the whole template's child", probe}};
        for (const auto &[box, name, file] : children) {
            SCOPED_TRACE(name);
            QMap<QString, QString> tried;
            {
                const DecodeReport::Scope report;
                decoder.read(file, box);
                tried = confinementroads::outcomes(report.damage().split(QLatin1Char(',')));
            }
            ASSERT_FALSE(tried.isEmpty());
            for (const char *thread : confinementroads::threads) {
                for (const confinementroads::Road &road : confinementroads::roads) {
                    const QString outcome = tried.value(confinementroads::key(road.name, thread));
                    const bool capExempt = ::geteuid() == 0 && qstrcmp(road.name, "3000 threads") == 0;
                    if ((withLandlock || road.closedByFilter) && !capExempt) {
                        EXPECT_EQ(outcome.toStdString(), "refused") << road.name << " from the " << thread;
                    }
                }
            }
            EXPECT_EQ(contents(kept), QByteArray("kept"));
            // Between the probes, a picture: the second file is what splits the decoder.
            const QImage read = decoder.read(picture);
            ASSERT_EQ(read.size(), expected.size());
            EXPECT_EQ(read.convertToFormat(QImage::Format_RGB32), expected.convertToFormat(QImage::Format_RGB32));
        }
        qunsetenv("OVN_DECODER_TEST_NO_LANDLOCK");
    }
    MediaDecoder::endIdleDecoders();
}

// A decoder taken over by its file takes memory every way it can: written and made read-only,
// mapped PROT_NONE and opened, shared, as threads' stacks and as pipes' buffers. Each way stops
// at the child's own limit, its decoder's memory and what it maps beside (libraries, stacks),
// far below what the data limit alone let through (1.5 GiB in a thumbnail child); the pipes at a
// few of them; and the count the tools add up sees no more than that either.
TEST(DecoderSandboxTest, AChildThatTakesMemoryEveryWayIsStoppedAtItsLimit)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "sanitizer builds run their decoders without memory limits";
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "sanitizer builds run their decoders without memory limits";
#endif
#endif
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString hostile = hostilemedia::written(folder.filePath(QStringLiteral("ovn-decoder-takes-memory.jpg")),
                                                  hostilemedia::jpegOfNoise(16, 16, false));
    const QString picture =
        hostilemedia::written(folder.filePath(QStringLiteral("picture.jpg")), hostilemedia::jpegOfNoise(96, 64, true));
    constexpr qint64 kib = 1024;
    // What a child maps beside its decoder's memory: its template's libraries, its threads'
    // stacks and, in a template that kept every library, the movie and document readers'.
    constexpr qint64 besideMemory = qint64(512) << 20;
    const struct {
        const char *road;
        qint64 atLeast; // what every child may take that way: a few mappings, a few threads, a pipe
        bool boundedByMemory;
    } roads[] = {{"written and made read-only", 16 << 20, true},
                 {"mapped PROT_NONE and opened", 16 << 20, true},
                 {"shared anonymous", 0, true},
                 {"threads", 2 << 20, true},
                 {"pipes", 4 << 10, false}};
    const struct {
        Use use;
        QSize box;
        const char *name;
    } children[] = {{Use::Thumbnail, QSize(8, 8), "thumbnail decoder, usual child"},
                    {Use::Thumbnail, QSize(), "thumbnail decoder, whole template's child"},
                    {Use::FullSize, QSize(8, 8), "full-size decoder"}};
    for (const auto &[use, box, name] : children) {
        SCOPED_TRACE(name);
        MediaDecoder::endIdleDecoders();
        const qint64 peaksBefore = MediaDecoder::endedChildren().peakBytes;
        const qint64 bound = MediaDecoder::memoryLimit(use) + besideMemory;
        const DecodeInterrupt::Scope limit(nullptr, 120s);
        QMap<QString, qint64> taken;
        QImage read;
        {
            MediaDecoder decoder(use);
            const DecodeReport::Scope report;
            decoder.read(hostile, box);
            for (const QString &outcome : report.damage().split(QLatin1Char(','))) {
                const qsizetype colon = outcome.lastIndexOf(QLatin1String(": "));
                if (colon > 0 && outcome.endsWith(QLatin1String(" KiB")))
                    taken.insert(outcome.left(colon).trimmed(), outcome.mid(colon + 2).chopped(4).toLongLong() * kib);
            }
            // The next file is read right.
            read = decoder.read(picture);
        }
        EXPECT_EQ(read.size(), QSize(96, 64));
        const qint64 addressSpace = taken.take(QStringLiteral("address space"));
        EXPECT_GT(addressSpace, 0);
        EXPECT_LE(addressSpace, bound);
        for (const auto &[road, atLeast, boundedByMemory] : roads) {
            ASSERT_TRUE(taken.contains(QLatin1String(road))) << road;
            const qint64 bytes = taken.take(QLatin1String(road));
            EXPECT_GE(bytes, atLeast) << road;
            EXPECT_LE(bytes, boundedByMemory ? bound : qint64(4) << 20) << road;
        }
        EXPECT_TRUE(taken.isEmpty()) << "roads this test does not know: " << qPrintable(taken.keys().join(u','));

        // The tools' count of the decoder's largest child holds what it held.
        MediaDecoder::endIdleDecoders();
        const qint64 peak = MediaDecoder::endedChildren().peakBytes - peaksBefore;
        EXPECT_GT(peak, qint64(16) << 20);
        EXPECT_LE(peak, bound);
    }
}

// A decoder taken over by its file that answers honestly and then forges the pictures of the files
// after it: each file is read by a process of its own, so every later file's picture is its own,
// read one after another (as an import with one thread) and for both uses.
TEST(DecoderSandboxTest, AfterATakenOverDecoderEveryLaterFileGetsItsOwnPicture)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString forger = hostilemedia::written(folder.filePath(QStringLiteral("ovn-forger.jpg")),
                                                 hostilemedia::jpegOfNoise(24, 16, true));
    QStringList later;
    for (int i = 0; i < 12; ++i)
        later << hostilemedia::written(folder.filePath(QStringLiteral("later-%1.jpg").arg(i)),
                                       hostilemedia::jpegOfNoise(32 + i, 20 + i, true));
    qputenv("OVN_DECODER_TEST_FORGE", "ovn-forger");
    MediaDecoder::endIdleDecoders();
    for (const Use use : {Use::Thumbnail, Use::FullSize}) {
        SCOPED_TRACE(use == Use::Thumbnail ? "thumbnail decoder" : "full-size decoder");
        const DecodeInterrupt::Scope limit(nullptr, 60s);
        MediaDecoder decoder(use);
        ASSERT_FALSE(decoder.read(forger).isNull());
        for (const QString &path : std::as_const(later)) {
            SCOPED_TRACE(path.toStdString());
            const QImage read = decoder.read(path);
            const QImage expected(path);
            ASSERT_EQ(read.size(), expected.size());
            EXPECT_EQ(read.convertToFormat(QImage::Format_RGB32), expected.convertToFormat(QImage::Format_RGB32));
        }
    }
    qunsetenv("OVN_DECODER_TEST_FORGE");
    MediaDecoder::endIdleDecoders();
}

namespace {

// The decoders among `parent`'s children.
QList<pid_t> decodersOf(qint64 parent, bool descendants = false)
{
    // Every process's parent, for the decoders of the decoders (a template's children, its whole
    // template "ovn-decoder-all" and that one's children).
    QMap<pid_t, pid_t> parentOf;
    QList<pid_t> decoders;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() < 2 || !(line.contains("(ovn-decoder)") || line.contains("(ovn-decoder-all)")))
            continue;
        parentOf.insert(pid_t(entry.toInt()), pid_t(fields.at(1).toLongLong()));
        decoders << pid_t(entry.toInt());
    }
    QList<pid_t> found;
    for (const pid_t decoder : std::as_const(decoders)) {
        pid_t up = parentOf.value(decoder);
        while (descendants && up != parent && parentOf.contains(up))
            up = parentOf.value(up);
        if (up == parent)
            found << decoder;
    }
    return found;
}

// Alive: there, and not a zombie waiting for whoever took it over to reap it.
bool alive(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.size() > close + 2 && line.at(close + 2) != 'Z' && line.at(close + 2) != 'X';
}

} // namespace

// Killed, terminated or interrupted, a program takes its decoders with it within a second: the
// idle one in its pool (started by a thread that has ended since) and the one stuck in a read.
TEST(DecoderSandboxTest, DecodersEndWithinASecondOfTheirProgram)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString hanging = hostilemedia::written(folder.filePath(QStringLiteral("ovn-decoder-hangs-host.jpg")),
                                                  hostilemedia::jpegOfNoise(16, 16, false));
    const QString picture =
        hostilemedia::written(folder.filePath(QStringLiteral("picture.jpg")), hostilemedia::jpegOfNoise(32, 32, false));
    const struct {
        const char *name;
        int signal;
    } endings[] = {{"kill -9", SIGKILL}, {"SIGTERM", SIGTERM}, {"Ctrl-C", SIGINT}};
    for (const auto &ending : endings) {
        SCOPED_TRACE(ending.name);
        QProcess host;
        host.start(QStringLiteral(OVN_DECODER_HOST), {hanging, picture});
        ASSERT_TRUE(host.waitForStarted());
        ASSERT_TRUE(host.waitForReadyRead(30000));
        ASSERT_EQ(host.readLine().trimmed(), QByteArray("pooled"));
        // The decoder its first thread started lives on in the pool.
        const QList<pid_t> pooled = decodersOf(host.processId());
        ASSERT_EQ(pooled.size(), 1);
        while (host.canReadLine() || host.waitForReadyRead(30000))
            if (host.readLine().trimmed() == "hung")
                break;
        const QList<pid_t> decoders = decodersOf(host.processId(), true);
        ASSERT_FALSE(decoders.isEmpty());
        EXPECT_TRUE(decoders.contains(pooled.front()));

        ::kill(pid_t(host.processId()), ending.signal);
        const auto killed = std::chrono::steady_clock::now();
        ASSERT_TRUE(host.waitForFinished(waitCeilingMs));
        bool anyAlive = true;
        while (anyAlive && std::chrono::steady_clock::now() - killed < std::chrono::milliseconds(waitCeilingMs)) {
            anyAlive = false;
            for (const pid_t decoder : decoders)
                anyAlive = anyAlive || alive(decoder);
            if (anyAlive)
                std::this_thread::sleep_for(10ms);
        }
        EXPECT_FALSE(anyAlive);
    }
}
