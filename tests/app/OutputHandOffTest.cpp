#include "app/OVNOutputHandOff.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {
MediaRecordRef recordFor(const QString &path)
{
    auto record = std::make_shared<MediaRecord>();
    record->setField(MediaRecord::AbsolutePath, path);
    return record;
}
} // namespace

// The records go on in order with the title given; one missing file refuses the whole hand-off.
TEST(OutputHandOff, TakesExistingFilesInOrderAndRefusesAMissingOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = dir.filePath("a.jpg"), b = dir.filePath("b.jpg");
    for (const QString &path : {a, b}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const std::optional<OVNOutputHandOff> handOff =
        OVNOutputHandOff::gather({recordFor(b), nullptr, recordFor(a)}, "Shown");
    ASSERT_TRUE(handOff);
    ASSERT_EQ(handOff->records.size(), 2);
    EXPECT_EQ(handOff->records[0].field(MediaRecord::AbsolutePath), b);
    EXPECT_EQ(handOff->records[1].field(MediaRecord::AbsolutePath), a);
    EXPECT_EQ(handOff->pageTitle, "Shown");
    EXPECT_TRUE(OVNOutputHandOff::gather({}, QString()).has_value());
    EXPECT_FALSE(OVNOutputHandOff::gather({recordFor(a), recordFor(dir.filePath("gone.jpg"))}, "Shown"));
    EXPECT_FALSE(OVNOutputHandOff::gather({recordFor(QString())}, QString()));
}
