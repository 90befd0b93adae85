#include "output/OVNSendImagesAsMail.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

MediaRecord recordFor(const QString &path)
{
    MediaRecord record;
    record.setField(MediaRecord::AbsolutePath, path);
    record.setField(MediaRecord::Orientation, QStringLiteral("1"));
    return record;
}

QString writePicture(const QString &path, QSize size = {800, 600})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    EXPECT_TRUE(image.save(path, "jpeg")) << path.toStdString();
    return path;
}

// A stand-in mail program: records its arguments NUL-separated and exits with its first argument.
QString writeStub(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("stub-mail"));
    QFile stub(path);
    EXPECT_TRUE(stub.open(QIODevice::WriteOnly));
    stub.write("#!/bin/sh\nstatus=$1\nshift\nprintf '%s\\0' \"$@\" > \"$(dirname \"$0\")/args\"\nexit $status\n");
    stub.close();
    stub.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

QStringList recordedArguments(const QTemporaryDir &dir)
{
    QFile file(dir.filePath(QStringLiteral("args")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList arguments = QString::fromUtf8(file.readAll()).split(QChar(u'\0'));
    arguments.removeLast();
    return arguments;
}

} // namespace

// An original whose path became another account's link (to this account's private picture) is not
// attached, and is listed as not attached; the others are.
TEST(OVNSendImagesAsMailTest, AnOriginalBehindAnotherAccountsLinkIsNotAttached)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can lay links that another account owns";
    QTemporaryDir dir;
    const QDir folder(dir.path());
    const QString plain = writePicture(folder.filePath(QStringLiteral("plain.jpg")));
    const QString secret = writePicture(folder.filePath(QStringLiteral("secret.jpg")));
    const QString planted = folder.filePath(QStringLiteral("planted.jpg"));
    ASSERT_EQ(::symlink(QFile::encodeName(secret).constData(), QFile::encodeName(planted).constData()), 0);
    ASSERT_EQ(::lchown(QFile::encodeName(planted).constData(), 65534, ~gid_t(0)), 0);
    OVNSendImagesAsMail::Options options;
    options.sizeIndex = OVNSendImagesAsMail::originalIndex;
    const QString out = dir.filePath(QStringLiteral("private"));
    ASSERT_TRUE(QDir().mkpath(out));
    const auto prepared = OVNSendImagesAsMail::prepare({recordFor(plain), recordFor(planted)}, options, out);
    ASSERT_EQ(prepared.files.size(), 1);
    EXPECT_EQ(QFileInfo(prepared.files.first()).fileName(), QStringLiteral("plain.jpg"));
    EXPECT_EQ(prepared.failed, QStringList{planted});
    // Nothing of the refused one is left in the private folder.
    EXPECT_EQ(QDir(out).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
}

// What the mail program reads is what was walked to when the mail was prepared: the originals are
// private copies under their own names, so a name swapped afterwards (for a link to another file,
// or for another file) changes nothing the mail program is handed; two originals of the same name
// keep theirs.
TEST(OVNSendImagesAsMailTest, OriginalsAreAttachedAsPrivateCopiesUnderTheirNames)
{
    QTemporaryDir dir;
    const QDir folder(dir.path());
    ASSERT_TRUE(folder.mkpath(QStringLiteral("a")) && folder.mkpath(QStringLiteral("b")));
    const QString first = writePicture(folder.filePath(QStringLiteral("a/IMG_1.jpg")));
    const QString second = writePicture(folder.filePath(QStringLiteral("b/IMG_1.jpg")), {64, 48});
    const QString secret = writePicture(folder.filePath(QStringLiteral("secret.jpg")), {32, 32});
    const QString out = folder.filePath(QStringLiteral("private"));
    ASSERT_TRUE(folder.mkpath(QStringLiteral("private")));

    OVNSendImagesAsMail::Options options;
    options.sizeIndex = OVNSendImagesAsMail::originalIndex;
    const auto prepared = OVNSendImagesAsMail::prepare({recordFor(first), recordFor(second)}, options, out);
    ASSERT_EQ(prepared.files.size(), 2);
    EXPECT_TRUE(prepared.failed.isEmpty());
    for (const QString &file : prepared.files) {
        EXPECT_EQ(QFileInfo(file).fileName(), QStringLiteral("IMG_1.jpg"));
        EXPECT_TRUE(file.startsWith(out + QLatin1Char('/'))) << file.toStdString();
    }
    EXPECT_NE(prepared.files[0], prepared.files[1]);

    ASSERT_TRUE(QFile::remove(first));
    ASSERT_EQ(::symlink(QFile::encodeName(secret).constData(), QFile::encodeName(first).constData()), 0);
    ASSERT_TRUE(QFile::remove(second));
    writePicture(second, {16, 16});
    EXPECT_EQ(QImageReader(prepared.files[0]).size(), QSize(800, 600));
    EXPECT_EQ(QImageReader(prepared.files[1]).size(), QSize(64, 48));

    // Without a private folder nothing is attached; copies go with the other old attachments.
    const auto nowhere = OVNSendImagesAsMail::prepare({recordFor(secret)}, options, QString());
    EXPECT_TRUE(nowhere.files.isEmpty());
    EXPECT_EQ(nowhere.failed, QStringList{secret});
    OVNSendImagesAsMail::removeOldAttachments(out, QDateTime::currentDateTime().addDays(2));
    EXPECT_TRUE(QDir(out).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System));
}

TEST(OVNSendImagesAsMailTest, HostileNamesReachTheMailProgramIntactAndInOrder)
{
    QTemporaryDir dir;
    const QString stub = writeStub(dir);
    const QDir folder(dir.path());
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QList<MediaRecord> records;
    for (const char *name : {"a b.jpg", "q\"uo'te.jpg", "$(touch x).jpg", "-lead.jpg", "Żółw ünï.jpg"})
        records.append(recordFor(writePicture(folder.filePath(QString::fromUtf8(name)))));

    OVNSendImagesAsMail::Options options;
    options.sizeIndex = OVNSendImagesAsMail::originalIndex;
    options.caption = true; // the originals go whatever the caption says
    const QString out = folder.filePath(QStringLiteral("private"));
    ASSERT_TRUE(folder.mkpath(QStringLiteral("private")));
    const auto prepared = OVNSendImagesAsMail::prepare(records, options, out);
    ASSERT_EQ(prepared.files.size(), 5);
    const auto result = OVNSendImagesAsMail::handOver(stub + QStringLiteral(" 0"), prepared.files);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.problem.isEmpty());

    QStringList expected = {"--utf8", "--subject", "Ostrevan Images", "--body", "\n\n\n"};
    for (int i = 0; i < records.size(); ++i) {
        EXPECT_EQ(QFileInfo(prepared.files[i]).fileName(),
                  QFileInfo(records[i].field(MediaRecord::AbsolutePath)).fileName());
        expected << QStringLiteral("--attach") << prepared.files[i];
    }
    EXPECT_EQ(recordedArguments(dir), expected);
    EXPECT_FALSE(QFile::exists(folder.filePath(QStringLiteral("x"))));
    QDir::setCurrent(previous);
}

TEST(OVNSendImagesAsMailTest, ScaledCopiesAreNamedAndFailuresListed)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("private"));
    QDir().mkpath(out);
    QDir().mkpath(dir.filePath(QStringLiteral("pics")));
    const QString raw = writePicture(dir.filePath(QStringLiteral("pics/IMG_0001.CR2")), {1200, 900});
    QFile junk(dir.filePath(QStringLiteral("pics/junk.jpg")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a picture");
    junk.close();

    OVNSendImagesAsMail::Options options;
    options.sizeIndex = 1;
    const auto prepared = OVNSendImagesAsMail::prepare({recordFor(raw), recordFor(junk.fileName())}, options, out);
    ASSERT_EQ(prepared.files.size(), 1);
    EXPECT_EQ(prepared.failed, QStringList{junk.fileName()});
    // Said in the words every road uses.
    EXPECT_EQ(prepared.reasons, QStringList{QStringLiteral("the picture cannot be read")});
    const QString name = QFileInfo(prepared.files.first()).fileName();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Ostrevan IMG_0001\\.CR2 \\d{1,6}\\.jpg$")).match(name).hasMatch())
        << name.toStdString();
    const QSize size = QImageReader(prepared.files.first()).size();
    EXPECT_EQ(size, QSize(320, 240));

    // The folder is private; only files more than a day old are cleared.
    const QString folder = OVNSendImagesAsMail::attachmentFolder();
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x0077, 0);
    OVNSendImagesAsMail::removeOldAttachments(out, QDateTime::currentDateTime());
    EXPECT_TRUE(QFile::exists(prepared.files.first()));
    OVNSendImagesAsMail::removeOldAttachments(out, QDateTime::currentDateTime().addDays(2));
    EXPECT_FALSE(QFile::exists(prepared.files.first()));
}

TEST(OVNSendImagesAsMailTest, FailedHandOversGiveTheirReasons)
{
    QTemporaryDir dir;
    const QString stub = writeStub(dir);
    const QString file = writePicture(dir.filePath(QStringLiteral("a.jpg")));
    QStringList reasons;
    for (int status = 1; status <= 5; ++status) {
        const auto result = OVNSendImagesAsMail::handOver(stub + QStringLiteral(" %1").arg(status), {file});
        EXPECT_EQ(result.exitCode, status);
        EXPECT_EQ(result.problem, OVNSendImagesAsMail::exitReason(status));
        EXPECT_FALSE(result.problem.isEmpty());
        reasons.append(result.problem);
    }
    reasons.removeDuplicates();
    EXPECT_EQ(reasons.size(), 5);

    const auto missing = OVNSendImagesAsMail::handOver(
        QStringLiteral("\"%1\"").arg(dir.filePath(QStringLiteral("no such mailer"))), {file});
    EXPECT_LT(missing.exitCode, 0);
    EXPECT_TRUE(missing.problem.contains(QStringLiteral("no such mailer"))) << missing.problem.toStdString();
    // One report for everything that went wrong; a failed hand-over names its program and the
    // preference that chooses it.
    const auto failedStatus = OVNSendImagesAsMail::handOver(stub + QStringLiteral(" 4"), {file});
    const OVNSendImagesAsMail::Prepared attached{{file}, {}, {}},
        partly{{file}, {"/src/bad.cr2"}, {"the file is damaged (the data ends early)"}},
        none{{}, {"/src/bad.cr2"}, {"the picture needs more memory than decoding may use"}};
    const struct {
        const char *name;
        OVNSendImagesAsMail::Prepared prepared;
        OVNSendImagesAsMail::Result result;
        const char *title;
        QStringList named;
    } reports[] = {
        {"all went well", attached, {}, "", {}},
        {"a file not converted",
         partly,
         {},
         "Some files could not be converted and are not attached.",
         {"bad.cr2: the file is damaged (the data ends early)"}},
        {"nothing converted",
         none,
         {},
         "The e-mail could not be created.",
         {"bad.cr2: the picture needs more memory than decoding may use"}},
        {"the program failed", attached, failedStatus, "The e-mail could not be created.", {stub, "MailCommand"}},
        {"the program is missing",
         partly,
         missing,
         "The e-mail could not be created.",
         {"no such mailer", "MailCommand", "bad.cr2"}},
    };
    for (const auto &r : reports) {
        const OVNSendImagesAsMail::Report report = OVNSendImagesAsMail::failureReport(r.prepared, r.result);
        EXPECT_EQ(report.title, QString::fromUtf8(r.title)) << r.name;
        for (const QString &name : r.named)
            EXPECT_TRUE(report.text.contains(name)) << r.name << ": " << report.text.toStdString();
    }
}
