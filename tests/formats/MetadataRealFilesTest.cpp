// The readers against real camera files, compared with exiftool's reading of them
// (ground-truth.json beside each folder of the shared test data).
#include "formats/OVNImageTagParser.h"
#include "formats/OVNXMPHelper.h"

#include "../support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>
#include <map>
#include <set>

namespace {

struct Sample {
    QString path;     // absolute
    QString relative; // to the test data folder
    QJsonObject truth;
};

QList<Sample> samples()
{
    QList<Sample> all;
    const QString root = testDataDir();
    QDirIterator it(root, {QStringLiteral("ground-truth.json")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString jsonPath = it.next();
        QFile json(jsonPath);
        if (!json.open(QIODevice::ReadOnly))
            continue;
        const QDir folder = QFileInfo(jsonPath).dir();
        for (const QJsonValue &value : QJsonDocument::fromJson(json.readAll()).array()) {
            const QJsonObject truth = value.toObject();
            const QString path = folder.filePath(truth.value("SourceFile").toString());
            all.append({path, QDir(root).relativeFilePath(path), truth});
        }
    }
    std::sort(all.begin(), all.end(), [](const Sample &a, const Sample &b) { return a.relative < b.relative; });
    return all;
}

// Values exiftool reads from places these readers do not look (maker notes, CIFF or PictureInfo
// blocks inside a JPEG, values that only XMP carries, extended XMP); the ground truth, which has
// no group names, then shows that reading.
const std::map<QString, std::set<QString>> notFromTheStandardTags = {
    {"exiftool-t-images/Casio.jpg", {"ISOequivalent"}},
    {"exiftool-t-images/ExifTool.jpg", {"CameraMake", "CameraModel", "DateTime", "ExposureTime"}},
    {"exiftool-t-images/Kodak.jpg", {"ExposureTime", "ApertureFNumber"}},
    {"exiftool-t-images/NikonD70.jpg", {"ISOequivalent"}},
    {"exiftool-t-images/Pentax.jpg", {"ISOequivalent"}},
    {"exiftool-t-images/PhotoMechanic.jpg", {"DateTime"}},
    {"exiv2-test-data/jpg/exiv2-canon-powershot-a520.jpg", {"ISOequivalent"}},
    {"exiv2-test-data/jpg/exiv2-canon-powershot-s40.jpg", {"ISOequivalent"}},
    {"exiv2-test-data/jpg/exiv2-nikon-d70.jpg", {"ISOequivalent"}},
    {"metadata-extractor-images/jpg/Canon EOS 7D.jpg", {"Width", "Height"}},
    {"metadata-extractor-images/jpg/Kodak DC240.jpg", {"ExposureTime", "ApertureFNumber"}},
    {"metadata-extractor-images/jpg/Kodak ProBack.jpg", {"ISOequivalent"}},
    {"metadata-extractor-images/jpg/Nikon D1X.jpg", {"ISOequivalent"}},
    {"metadata-extractor-images/raw/Issue 247-1.nef", {"ISOequivalent"}},
    // XMP: extended XMP segment, CDATA, properties written as attributes, a prefix other than
    // the usual one, all languages of an alternative joined, a language exiftool skips, and an
    // Exiv2 container rather than an XMP packet.
    {"exiftool-t-images/ExtendedXMP.jpg", {"DC Title"}},
    {"exiftool-t-images/XMP.xmp", {"DC Subject and Keywords"}},
    {"exiftool-t-images/XMP2.xmp", {"DC Title", "DC Subject and Keywords"}},
    {"exiftool-t-images/XMP3.xmp", {"DC Title"}},
    {"exiv2-test-data/xmp/BlueSquare.xmp", {"DC Title"}},
    {"metadata-extractor-images/xmp/APhotoManager-exmaple.xmp", {"DC Title"}},
    {"exiv2-test-data/xmp/exiv2-bug1108.xmp", {"DC Title", "DC Subject and Keywords", "DC Description"}},
};

bool skipped(const Sample &sample, const QString &key)
{
    const auto it = notFromTheStandardTags.find(sample.relative);
    return it != notFromTheStandardTags.end() && it->second.count(key);
}

// Files that exiftool itself reports as damaged, and the crash reproducers: no values to compare.
bool isBroken(const Sample &sample)
{
    return sample.relative.contains("/fuzz-crw/") || sample.relative.endsWith("IMGP0006-min.jpg");
}

class Comparison
{
public:
    Comparison(const Sample &sample, const MetadataDictionary &ours) : m_sample(sample), m_ours(ours) {}

    void text(const QString &key, const QJsonValue &expected)
    {
        if (skipped(m_sample, key))
            return;
        const QString want = expected.isUndefined() ? QStringLiteral("n/a") : expected.toVariant().toString();
        EXPECT_EQ(m_ours.value(key).toString(), want) << where(key);
    }

    // exiftool's number (-n) against our number or text of a number; absent must mean absent.
    void number(const QString &key, const QJsonValue &expected)
    {
        if (skipped(m_sample, key))
            return;
        if (expected.isUndefined()) {
            EXPECT_FALSE(m_ours.contains(key)) << where(key) << " = " << m_ours.value(key).toString().toStdString();
            return;
        }
        ASSERT_TRUE(m_ours.contains(key))
            << where(key) << " expected " << expected.toVariant().toString().toStdString();
        bool ok = false;
        const double got = m_ours.value(key).toString().toDouble(&ok);
        ASSERT_TRUE(ok) << where(key);
        const double want = expected.toDouble();
        EXPECT_NEAR(got, want, std::max(1e-9, std::abs(want) * 1e-5)) << where(key);
    }

private:
    std::string where(const QString &key) const { return (m_sample.relative + ": " + key).toStdString(); }

    const Sample &m_sample;
    const MetadataDictionary &m_ours;
};

QJsonValue firstOf(const QJsonObject &truth, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        if (truth.contains(key))
            return truth.value(key);
    }
    return QJsonValue(QJsonValue::Undefined);
}

} // namespace

TEST(MetadataRealFiles, CameraFilesMatchExiftool)
{
    OVN_REQUIRE_TESTDATA();
    int compared = 0;
    for (const Sample &sample : samples()) {
        const QString type = sample.truth.value("FileType").toString();
        if ((type != "JPEG" && type != "TIFF" && type != "CRW") || isBroken(sample))
            continue;
        const MetadataDictionary ours = OVNImageTagParser().parseFileForExifInfo(sample.path);
        if (QFileInfo(sample.path).size() < 1024) {
            EXPECT_TRUE(ours.isEmpty()) << sample.relative.toStdString();
            continue;
        }
        ++compared;
        Comparison check(sample, ours);
        const QJsonObject &t = sample.truth;
        check.text("CameraMake", t.value("Make"));
        check.text("CameraModel", t.value("Model"));
        if (type == "CRW") {
            // CRW files carry no date in the records read here; sizes come from the AF info
            // record; the rotation word is turned into the EXIF numbering.
            check.text("DateTime", QJsonValue(QJsonValue::Undefined));
            const QJsonValue rotate = t.value("AutoRotate");
            check.number("Orientation", rotate.isUndefined()
                                            ? rotate
                                            : QJsonValue(OVNImageTagParser::exifOrientationFromCanonAutoRotate(
                                                quint32(rotate.toInt()))));
            check.number("ImageSizeWidth", t.value("CanonImageWidth"));
            check.number("ImageSizeHeight", t.value("CanonImageHeight"));
            check.number("FocalLength", t.value("FocalLength"));
            continue;
        }
        check.text("DateTime", firstOf(t, {"DateTimeOriginal", "ModifyDate"}));
        check.number("Orientation", t.value("Orientation"));
        check.number("Width", t.value("ExifImageWidth"));
        check.number("Height", t.value("ExifImageHeight"));
        check.number("ExposureTime", t.value("ExposureTime"));
        check.number("ApertureFNumber", firstOf(t, {"FNumber", "ApertureValue"}));
        check.number("ISOequivalent", firstOf(t, {"ExposureIndex", "ISO"}));
        check.number("FocalLength", t.value("FocalLength"));
    }
    EXPECT_GE(compared, 90);
}

TEST(MetadataRealFiles, EveryOrientationExample)
{
    OVN_REQUIRE_TESTDATA();
    const QDir folder(testDataDir() + "/exif-orientation-examples");
    const QStringList files = folder.entryList({"*.jpg"}, QDir::Files);
    ASSERT_EQ(files.size(), 18);
    static const QRegularExpression number(QStringLiteral("_(\\d)\\.jpg$"));
    for (const QString &name : files) {
        const MetadataDictionary m = OVNImageTagParser().parseFileForExifInfo(folder.filePath(name));
        // The _0 files hold the invalid value 0, kept as it stands: 0 is "no orientation".
        EXPECT_EQ(m.value("Orientation").toLongLong(), number.match(name).captured(1).toLongLong())
            << name.toStdString();
    }
}

TEST(MetadataRealFiles, XmpTitleSubjectAndDescription)
{
    OVN_REQUIRE_TESTDATA();
    int compared = 0;
    for (const Sample &sample : samples()) {
        const QString suffix = QFileInfo(sample.path).suffix().toLower();
        if (!QStringList{"xmp", "jpg", "tif", "tiff"}.contains(suffix))
            continue;
        const QJsonObject &t = sample.truth;
        if (!t.contains("Title") && !t.contains("Subject") && !t.contains("Description"))
            continue;
        const MetadataDictionary ours = suffix == "xmp" ? OVNXMPHelper().parseXMPFile(sample.path)
                                                        : OVNImageTagParser().parseFileForExifInfo(sample.path);
        const std::pair<const char *, const char *> keys[] = {
            {"Title", "DC Title"}, {"Subject", "DC Subject and Keywords"}, {"Description", "DC Description"}};
        for (const auto &[theirs, key] : keys) {
            if (skipped(sample, key))
                continue;
            QJsonValue expected = t.value(theirs);
            QString want;
            if (expected.isArray()) {
                QStringList items;
                for (const QJsonValue &item : expected.toArray())
                    items.append(item.toVariant().toString());
                want = items.join(' ');
            } else if (!expected.isUndefined()) {
                want = expected.toVariant().toString();
            }
            EXPECT_EQ(ours.value(key).toString(), want.trimmed()) << (sample.relative + ": " + key).toStdString();
            ++compared;
        }
    }
    EXPECT_GE(compared, 50);
}

// Every file of the test data, the broken and the fuzz reproducers included, through every
// reader and entry point, whole and cut short. Run under ASan/UBSan this is the hostile-input test.
TEST(MetadataRealFiles, EveryFileThroughEveryReader)
{
    OVN_REQUIRE_TESTDATA();
    using ByteOrder = OVNImageTagParser::ByteOrder;
    int files = 0;
    QDirIterator it(testDataDir(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray whole = file.readAll();
        ++files;

        const MetadataDictionary fromFile = OVNImageTagParser().parseFileForExifInfo(path);
        EXPECT_EQ(fromFile, OVNImageTagParser().parseDataForExifInfo(whole)) << path.toStdString();
        if (whole.size() >= 1024) {
            EXPECT_TRUE(fromFile.contains("CameraMake")) << path.toStdString();
        }

        const int cuts = whole.size() <= 65536 ? 12 : 1;
        for (int cut = 1; cut <= cuts; ++cut) {
            const QByteArrayView data = QByteArrayView(whole).first(whole.size() * cut / cuts);
            OVNImageTagParser parser;
            parser.parseDataForExifInfo(data);
            parser.convertTagsToDictionary(data, 0, data.size());
            for (const ByteOrder order : {ByteOrder::LittleEndian, ByteOrder::BigEndian}) {
                parser.convertExifToDictionary(data, 0, OVNImageTagParser::get4Bytes(data, 4, order), data.size(),
                                               order);
                parser.convertCRWTagsToDictionary(data,
                                                  quint32(OVNImageTagParser::get4Bytes(data, data.size() - 4, order)),
                                                  quint32(OVNImageTagParser::get4Bytes(data, 2, order)), order);
            }
            OVNXMPHelper().parseXMP(data);
        }
    }
    EXPECT_GE(files, 190);
}
