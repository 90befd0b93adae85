#include "platform/FileAccess.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

// Reading whole files up to a cap: what the file holds from where it stands, never more than the
// cap, and nothing from an empty file.
TEST(FileAccessTest, ReadAtMostTakesWhatTheFileHoldsUpToTheCap)
{
    QTemporaryDir dir;
    QByteArray content;
    for (int i = 0; i < 3 << 20; ++i)
        content.append(char(i * 7 % 251));
    const struct {
        qsizetype size;
        qint64 start;
        qint64 cap;
        qsizetype expected;
    } cases[] = {
        {qsizetype(content.size()), 0, qint64(1) << 30, qsizetype(content.size())},
        {qsizetype(content.size()), 1000, qint64(1) << 30, qsizetype(content.size()) - 1000},
        {qsizetype(content.size()), 0, 4096, 4096},
        {qsizetype(content.size()), 10, 4096, 4096},
        {17, 0, 17, 17},
        {0, 0, 1 << 20, 0},
    };
    for (const auto &c : cases) {
        const QString path = dir.filePath(QStringLiteral("f"));
        QFile write(path);
        ASSERT_TRUE(write.open(QIODevice::WriteOnly | QIODevice::Truncate));
        write.write(content.left(c.size));
        write.close();
        QFile file;
        ASSERT_TRUE(FileAccess::openRegularFile(file, path));
        ASSERT_TRUE(file.seek(c.start));
        const QByteArray read = FileAccess::readAtMost(file, c.cap);
        EXPECT_EQ(read, content.mid(c.start, c.expected)) << c.size << " " << c.start << " " << c.cap;
    }
}
