#include "formats/OVNExtensionMapping.h"
#include "import/OVNImportHelper.h"
#include "output/OVNJpegWriter.h"
#include "output/OVNSendImagesAsMail.h"
#include "viewers/OVNImageLoader.h"
#include "tests/support/HostileMedia.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

// A file that gives no picture is said to the user in the same words on every road: the import's
// problem, the export's (and web gallery's) reason, mail's and the viewer's sheet.
TEST(NoPictureReasons, EveryRoadSaysTheSameOfAFile)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(out));
    struct Case {
        const char *name;
        QString file;
        const char *said;
    };
    const Case cases[] = {
        {"no picture at all", hostilemedia::written(dir.filePath(QStringLiteral("text.jpg")), "not a picture"),
         "the picture cannot be read"},
        {"a picture no decoder has the memory for",
         hostilemedia::written(dir.filePath(QStringLiteral("ovn-decoder-exhausts.jpg")),
                               hostilemedia::jpegOfNoise(64, 48, false)),
         "the picture needs more memory than decoding may use"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString said = QString::fromLatin1(c.said);

        OVNImportHelper helper;
        QVariantMap record;
        helper.thumbnailForMediaFile(c.file, record);
        EXPECT_EQ(helper.lastProblem(), said) << "import";

        QString exported;
        EXPECT_FALSE(OVNJpegWriter::scaleAndSaveAsJPEG(c.file, 1600, 1600, 0.8f, out + QStringLiteral("/e.jpg"),
                                                       OVNJpegWriter::Caption::Off, {}, {}, 1, &exported));
        EXPECT_EQ(exported, said) << "export";

        MediaRecord mailed;
        mailed.setField(MediaRecord::AbsolutePath, c.file);
        OVNSendImagesAsMail::Options options;
        options.sizeIndex = 1;
        const OVNSendImagesAsMail::Prepared prepared = OVNSendImagesAsMail::prepare({mailed}, options, out);
        EXPECT_EQ(prepared.reasons, QStringList{said}) << "mail";

        OVNImageLoader::Request request;
        request.path = c.file;
        request.processor = OVNExtensionMapping().getProcessorForFile(c.file);
        QString viewed;
        EXPECT_TRUE(OVNImageLoader::decode(request, false, nullptr, &viewed).isNull());
        EXPECT_EQ(viewed, said) << "viewer";
    }
}
