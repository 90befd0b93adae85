// ovn-catalog: looks into a catalog file through the catalog layer, so that the layer can be
// checked from outside.
//
//   ovn-catalog FILE create
//   ovn-catalog FILE add-category NAME [KIND [PARENT-ID]]     KIND one of F C S M I (default C)
//   ovn-catalog FILE add-media CATEGORY-ID PATH [THUMBNAIL-JPEG]
//   ovn-catalog FILE link MEDIA-ID SET-ID
//   ovn-catalog FILE categories
//   ovn-catalog FILE media [CATEGORY-ID [KIND]]               all media without a category
//   ovn-catalog FILE list CATEGORY-ID                         the collection's media list, every
//       field of each record separated by | (as the sqlite3 shell prints the same select)
//   ovn-catalog FILE seed [IMAGE...]                          a demonstration catalog: folders,
//       collections, a category set, a surveillance folder and a smart folder, with the images
//       (or drawn pictures when none are given) as media with thumbnails
//
// FILE may name a server catalog instead: postgresql:HOST:PORT/DATABASE (HOST a socket folder or
// a name), with the user and password from $PGUSER and $PGPASSWORD.
//
// Lists are tab-separated ("list" separates by | as the sqlite3 shell does), one item a line,
// control characters of the catalog's text written as \xHH and a backslash as \\, so that no title
// drives the terminal or forges a line. Failures go to standard error with the exit status 1.
//
// On a catalog with users the tool is the account's own catalog user, as the program is: an account
// that is no catalog user, or in no group, is refused; lists leave out what that user may not read,
// and each change needs the level the catalog window asks for.

#include "ToolAccount.h"
#include "ToolCatalog.h"
#include "ToolText.h"

#include "catalogdb/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/CatalogNames.h"
#include "platform/HeapTuning.h"
#include "platform/SystemInfo.h"

#include "platform/PropertyList.h"
#include "search/OVNFind.h"
#include "tools/common/ToolUsage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int fail(const QString &message)
{
    QTextStream(stderr) << "ovn-catalog: " << ToolText::printable(message) << Qt::endl;
    return 1;
}

// What the catalog did not do, on standard error.
int failed(const OVNDatabaseAccess &db, const QString &what) { return fail(ToolAccount::failure(db, what)); }

bool mayRead(const CategoryNode &node)
{
    return OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readOnly(),
                                        node.value(QStringLiteral("MYPRIVILEGES")).toString());
}

// The entries of a list the catalog user may read; the program's refusal on standard error when the
// privileges could not be read.
std::optional<MediaList> readable(OVNDatabaseAccess &db, MediaList records)
{
    QString why;
    std::optional<MediaList> kept = ToolAccount::readable(db, std::move(records), &why);
    if (!kept)
        fail(why);
    return kept;
}

constexpr const char *usageText = "usage: ovn-catalog FILE create\n"
                                  "       ovn-catalog FILE add-category NAME [KIND [PARENT-ID]]\n"
                                  "       ovn-catalog FILE add-media CATEGORY-ID PATH [THUMBNAIL-JPEG]\n"
                                  "       ovn-catalog FILE link MEDIA-ID SET-ID\n"
                                  "       ovn-catalog FILE categories\n"
                                  "       ovn-catalog FILE media [CATEGORY-ID [KIND]]\n"
                                  "       ovn-catalog FILE list CATEGORY-ID\n"
                                  "       ovn-catalog FILE seed [IMAGE...]\n";

int usage()
{
    QTextStream(stderr) << usageText;
    return 2;
}

void printCategory(const CategoryNode &node, int depth)
{
    using ToolText::printable;
    out() << QString(depth * 2, QLatin1Char(' ')) << printable(node.value(CatalogNames::keyMid).toString()) << '\t'
          << printable(node.value(CatalogNames::keyType).toString()) << '\t'
          << printable(node.value(CatalogNames::keyDisplayTag).toString()) << '\t'
          << printable(node.value(CatalogNames::keyPrivileges).toString()) << '\n';
}

void printChildren(OVNDatabaseAccess &db, const QString &parent, int depth)
{
    if (depth > 64)
        return; // a cycle in the stored tree
    for (const CategoryNode &child : db.getCategoryListForMID(parent)) {
        if (!mayRead(child))
            continue;
        printCategory(child, depth);
        if (child.value(CatalogNames::keyType).toString() == QLatin1String("F"))
            printChildren(db, child.value(CatalogNames::keyMid).toString(), depth + 1);
    }
}

int listCategories(OVNDatabaseAccess &db)
{
    for (const char *kind : {"F", "C", "M", "I", "S"}) {
        for (const CategoryNode &node : db.getCategoryList(QString::fromLatin1(kind))) {
            if (!mayRead(node))
                continue;
            printCategory(node, 0);
            if (node.value(CatalogNames::keyType).toString() == QLatin1String("F"))
                printChildren(db, node.value(CatalogNames::keyMid).toString(), 1);
        }
    }
    out().flush();
    return 0;
}

int listMedia(OVNDatabaseAccess &db, const QStringList &arguments)
{
    if (!arguments.isEmpty()) {
        if (const QString refusal = ToolAccount::refusal(db, OVNPrivilegeLevel::readOnly(), {arguments.at(0)});
            !refusal.isEmpty())
            return fail(refusal);
    }
    const std::optional<MediaList> records =
        readable(db, arguments.isEmpty() ? db.getMediaList(QStringLiteral("0"), QStringLiteral("EXPANDABLE"))
                                         : db.getMediaList(arguments.at(0), arguments.value(1, QStringLiteral("C"))));
    if (!records)
        return 1;
    for (const MediaRecordRef &entry : *records) {
        const MediaRecord &record = *entry;
        using ToolText::printable;
        out() << printable(record.value(CatalogNames::keyMid).toString()) << '\t'
              << printable(record.value(CatalogNames::keyDisplayTag).toString()) << '\t'
              << printable(record.value(CatalogNames::keyAbsolutePath).toString()) << '\t'
              << printable(record.value(QStringLiteral("filesize")).toString()) << '\t'
              << printable(record.value(CatalogNames::keyCategoryId).toString()) << '\t'
              << printable(record.value(QStringLiteral("imagesetmid")).toString()) << '\t'
              << db.getThumbnailForMediaID(record.value(CatalogNames::keyMid).toString()).size() << '\n';
    }
    out().flush();
    return 0;
}

// The text's UTF-8 at the end of `out`, written out as ToolText writes it (control characters as
// \xHH, a backslash as \\). ASCII without either, as nearly all catalog text is, is narrowed in one
// pass that also notes whether any character was otherwise; only such a text is written again.
void appendUtf8(QByteArray &out, const QString &text)
{
    const char16_t *from = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype length = text.size();
    const qsizetype at = out.size();
    out.resize(at + length);
    char *to = out.data() + at;
    bool special = false;
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = from[i];
        to[i] = char(c);
        special |= c < 0x20 || c >= 0x7f || c == u'\\';
    }
    if (special) {
        out.resize(at);
        out += ToolText::utf8(text);
    }
}

int listFields(OVNDatabaseAccess &db, const QStringList &arguments)
{
    if (arguments.isEmpty())
        return usage();
    if (const QString refusal = ToolAccount::refusal(db, OVNPrivilegeLevel::readOnly(), {arguments.at(0)});
        !refusal.isEmpty())
        return fail(refusal);
    QFile output;
    if (!output.open(stdout, QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write to standard output"));
    // Each line goes out as its row is read, none of the records kept: making the list of 100,000
    // first took 150 MiB and a sixth more processor time (0.51 s against 0.43 s), most of it in
    // filling fresh memory. Every entry of a collection is its own, which the refusal above let
    // the user read.
    QByteArray text;
    text.reserve(1 << 17);
    bool written = true;
    const bool listed = db.forEachMediaRecord(arguments.at(0), QStringLiteral("C"), [&](const MediaRecord &entry) {
        for (int field = 0; field < MediaRecord::fieldCount; ++field) {
            if (field > 0)
                text += '|';
            appendUtf8(text, entry.field(MediaRecord::Field(field)));
        }
        text += '\n';
        if (text.size() >= (1 << 16)) {
            written = output.write(text) == text.size();
            text.resize(0); // keeps the buffer
        }
        return written;
    });
    if (written)
        written = output.write(text) == text.size() && output.flush();
    if (!written)
        return fail(QStringLiteral("cannot write to standard output"));
    if (!listed)
        return failed(db, QStringLiteral("the collection's entries could not be listed"));
    return 0;
}

int addMedia(OVNDatabaseAccess &db, const QStringList &arguments)
{
    if (arguments.size() < 2)
        return usage();
    const QFileInfo file(arguments.at(1));
    if (!file.isFile())
        return fail(QStringLiteral("no such file: %1").arg(arguments.at(1)));
    QByteArray thumbnail;
    if (arguments.size() > 2) {
        QFile jpeg(arguments.at(2));
        if (!jpeg.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(arguments.at(2)));
        thumbnail = jpeg.readAll();
    }
    if (const QString refusal = ToolAccount::refusal(db, OVNPrivilegeLevel::readWrite(), {arguments.at(0)});
        !refusal.isEmpty())
        return fail(refusal);
    const QVariantMap record = {
        {CatalogNames::keyCategoryId, arguments.at(0)},
        {QStringLiteral("cataloguedby"), SystemInfo::fullName()},
        {QStringLiteral("volumetype"), QStringLiteral("local")},
        {QStringLiteral("volumename"), QString()},
        {CatalogNames::keyDisplayTag, file.fileName()},
        {QStringLiteral("servername"), SystemInfo::hostName()},
        {QStringLiteral("serverpath"), QString()},
        {CatalogNames::keyAbsolutePath, file.absoluteFilePath()},
        {QStringLiteral("filesize"), file.size()},
        {QStringLiteral("filedts"), OVNDatabaseAccess::timestampText(file.lastModified())},
        {QStringLiteral("dts"), OVNDatabaseAccess::timestampText(QDateTime::currentDateTime())},
        {QStringLiteral("filetype"), file.suffix().toLower()},
        {CatalogNames::keyThumbImage, thumbnail},
    };
    const QString mid = db.addMediaListEntry(record);
    if (mid.isEmpty())
        return failed(db, QStringLiteral("the entry could not be added"));
    out() << mid << Qt::endl;
    return 0;
}

QByteArray jpegData(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return data;
}

// A drawn landscape for catalogs made without images: sky, hills and a sun in varied colours.
QImage drawnPicture(int index)
{
    QImage image(640, 480, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int hue = (index * 47) % 360;
    QLinearGradient sky(0, 0, 0, 480);
    sky.setColorAt(0, QColor::fromHsv(hue, 120, 250));
    sky.setColorAt(1, QColor::fromHsv((hue + 30) % 360, 60, 255));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromHsv((hue + 180) % 360, 90, 255));
    painter.drawEllipse(QPointF(120 + (index * 53) % 400, 110), 45, 45);
    for (int layer = 0; layer < 3; ++layer) {
        painter.setBrush(QColor::fromHsv((hue + 90 + layer * 20) % 360, 140 + layer * 30, 200 - layer * 50));
        QPainterPath hills;
        hills.moveTo(0, 480);
        for (int x = 0; x <= 640; x += 40)
            hills.lineTo(x, 300 + layer * 50 + 40 * std::sin((x + index * 70 + layer * 150) / 90.0));
        hills.lineTo(640, 480);
        painter.drawPath(hills);
    }
    return image;
}

int seedCatalog(OVNDatabaseAccess &db, const QStringList &images)
{
    const auto category = [&db](const QString &name, const char *kind, const QString &parent = QString()) {
        const QString mid = db.addCategoryListEntry(name, QString::fromLatin1(kind));
        if (!mid.isEmpty() && !parent.isEmpty())
            db.setCategoryListEntrySuperMID(mid, parent);
        return mid;
    };
    const QString travel = category(QStringLiteral("Travel"), "F");
    const QString year = category(QStringLiteral("2024"), "F", travel);
    const QString lisbon = category(QStringLiteral("Lisbon"), "C", year);
    const QString alps = category(QStringLiteral("Alps"), "C", travel);
    const QString clients = category(QStringLiteral("Clients"), "F");
    const QString portraits = category(QStringLiteral("Portraits"), "C", clients);
    const QString tests = category(QStringLiteral("Camera Tests"), "C");
    const QString landscapes = category(QStringLiteral("Landscapes"), "C");
    const QString incoming = category(QStringLiteral("Incoming"), "M");
    const QString stars = category(QStringLiteral("Five Stars"), "I");
    const QString best = category(QStringLiteral("Best Of"), "S");
    const QString print = category(QStringLiteral("For Print"), "S");
    if (best.isEmpty() || print.isEmpty())
        return failed(db, QStringLiteral("the categories could not be added"));
    db.updateCategoryListComment(
        incoming, QString::fromUtf8(PropertyList::writeOpenStep(QVariantMap{
                      {QStringLiteral("SURVEILLANCEFOLDER"), QDir::homePath() + QStringLiteral("/Incoming")}})));
    // "Rating" "equals" 5 over all entries, stored as the find sheet stores a smart folder.
    OVNFind fiveStars;
    fiveStars.addCatalog(QStringLiteral("All Entries"), {});
    OVNFindLine &line = fiveStars.lines()[size_t(fiveStars.addLine())];
    line.chooseField(*OVNFindLine::fieldFor(CatalogNames::mediaTable, CatalogNames::keyRating));
    line.setValue(QStringLiteral("5"));
    db.updateCategoryListComment(stars, QString::fromUtf8(PropertyList::writeOpenStep(fiveStars.searchSettings())));

    const QStringList collections = {landscapes, lisbon, alps, portraits, tests, incoming};
    const int count = images.isEmpty() ? 24 : int(images.size());
    QStringList added;
    for (int i = 0; i < count; ++i) {
        QImage picture;
        QString path;
        QString name;
        if (images.isEmpty()) {
            picture = drawnPicture(i);
            name = QStringLiteral("Landscape %1.jpg").arg(i + 1, 2, 10, QLatin1Char('0'));
            path = QDir::homePath() + QStringLiteral("/Pictures/") + name;
        } else {
            QImageReader reader(images.at(i));
            reader.setAutoTransform(true);
            picture = reader.read();
            if (picture.isNull()) {
                QTextStream(stderr) << "ovn-catalog: skipped " << ToolText::printable(images.at(i)) << ": "
                                    << ToolText::printable(reader.errorString()) << Qt::endl;
                continue;
            }
            const QFileInfo file(images.at(i));
            path = file.absoluteFilePath();
            name = file.fileName();
        }
        const QImage thumbnail = picture.scaled(256, 256, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const QString owner = collections.at(i % collections.size());
        const QVariantMap record = {
            {CatalogNames::keyCategoryId, owner},
            {QStringLiteral("cataloguedby"), SystemInfo::fullName()},
            {QStringLiteral("volumetype"), QStringLiteral("local")},
            {QStringLiteral("volumename"), QString()},
            {CatalogNames::keyDisplayTag, name},
            {QStringLiteral("servername"), SystemInfo::hostName()},
            {QStringLiteral("serverpath"), QString()},
            {CatalogNames::keyAbsolutePath, path},
            {QStringLiteral("filesize"), QFileInfo(path).exists() ? QFileInfo(path).size() : qint64(150000 + i * 7919)},
            {QStringLiteral("imagewidth"), picture.width()},
            {QStringLiteral("imageheight"), picture.height()},
            {QStringLiteral("filedts"), OVNDatabaseAccess::timestampText(QDateTime::currentDateTime().addDays(-i))},
            {QStringLiteral("dts"), OVNDatabaseAccess::timestampText(QDateTime::currentDateTime())},
            {QStringLiteral("keywords"), QStringLiteral("Sample picture %1").arg(i + 1)},
            {QStringLiteral("shortdesc"), QStringLiteral("demo, sample")},
            {QStringLiteral("fulldesc"), QString()},
            {QStringLiteral("filetype"), QStringLiteral("Image")},
            {CatalogNames::keyRating, i % 6},
            {CatalogNames::keyThumbImage, jpegData(thumbnail)},
        };
        const QString mid = db.addMediaListEntry(record);
        if (mid.isEmpty())
            return failed(db, QStringLiteral("the entry could not be added"));
        added.append(mid);
    }
    for (int i = 0; i < added.size(); i += 3)
        db.addEntryToImageSet(added.at(i), best);
    for (int i = 1; i < added.size(); i += 4)
        db.addEntryToImageSet(added.at(i), print);
    out() << added.size() << " media in 12 categories" << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText, {}))
        return *end;
    // The allocator as the application sets it up.
    HeapTuning::keepFreedMemoryForReuse();
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() < 2)
        return usage();
    const QString path = arguments.at(0);
    const QString command = arguments.at(1);
    const QStringList rest = arguments.mid(2);

    const QLatin1String serverPrefix("postgresql:");
    const bool onServer = path.startsWith(serverPrefix);
    const bool makes = command == QLatin1String("create") || command == QLatin1String("seed");
    OVNDatabaseAccess db;
    if (onServer) {
        const QString server = path.mid(serverPrefix.size());
        const qsizetype slash = server.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return usage();
        db.setConnectionDetails(QStringLiteral("PostgreSQL"), server.left(slash), qEnvironmentVariable("PGUSER"),
                                qEnvironmentVariable("PGPASSWORD"), server.mid(slash + 1));
    } else {
        db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
        // Only "create" and "seed" make a catalog file; the others refuse a missing one, with why.
        db.setCreatesMissingFile(makes);
    }
    // From here on the catalog's own messages go to the log, not to the terminal.
    ToolAccount::logMessages();
    if (!db.openDBConnection())
        return failed(db, QStringLiteral("cannot open the catalog %1").arg(path));
    if (const QString refusal = ToolAccount::logIn(db); !refusal.isEmpty())
        return fail(refusal);

    if (command == QLatin1String("seed")) {
        if (!db.checkForDatabaseSetup() && !OVNDBHelper::prefDBCreateLocalDatabase(db))
            return failed(db, QStringLiteral("the catalog could not be made"));
        return seedCatalog(db, rest);
    }
    if (command == QLatin1String("create")) {
        if (db.checkForDatabaseSetup())
            return fail(QStringLiteral("%1 already holds a catalog").arg(path));
        if (!(onServer ? OVNDBHelper::prefDBCreatePostgreSQLDatabase(db) : OVNDBHelper::prefDBCreateLocalDatabase(db)))
            return failed(db, QStringLiteral("the catalog could not be made"));
        return 0;
    }
    if (const QString failure = ToolCatalog::openFailure(db, path); !failure.isEmpty())
        return fail(failure);
    if (command == QLatin1String("add-category")) {
        if (rest.isEmpty())
            return usage();
        // Into a folder as a category is dropped onto one: with the right to change the folder.
        if (rest.size() > 2) {
            if (const QString refusal = ToolAccount::refusal(db, OVNPrivilegeLevel::readWrite(), {rest.at(2)});
                !refusal.isEmpty())
                return fail(refusal);
        }
        const QString mid = db.addCategoryListEntry(rest.at(0), rest.value(1, QStringLiteral("C")));
        if (mid.isEmpty())
            return failed(db, QStringLiteral("the category could not be added"));
        if (rest.size() > 2 && !db.setCategoryListEntrySuperMID(mid, rest.at(2)))
            return failed(db, QStringLiteral("the category could not be put into its folder"));
        out() << mid << Qt::endl;
        return 0;
    }
    if (command == QLatin1String("add-media"))
        return addMedia(db, rest);
    if (command == QLatin1String("link")) {
        if (rest.size() < 2)
            return usage();
        // As a link made in the catalog window: the set may be changed, the entry read.
        QString refusal = ToolAccount::refusal(db, OVNPrivilegeLevel::readWrite(), {rest.at(1)});
        if (refusal.isEmpty())
            refusal = ToolAccount::refusal(db, OVNPrivilegeLevel::readOnly(),
                                           {db.getMediaListEntryForMediaID(rest.at(0), QStringLiteral("categoryid"))});
        if (!refusal.isEmpty())
            return fail(refusal);
        const QString mid = db.addEntryToImageSet(rest.at(0), rest.at(1));
        if (mid.isEmpty())
            return failed(db, QStringLiteral("the entry could not be linked"));
        out() << mid << Qt::endl;
        return 0;
    }
    if (command == QLatin1String("categories"))
        return listCategories(db);
    if (command == QLatin1String("media"))
        return listMedia(db, rest);
    if (command == QLatin1String("list"))
        return listFields(db, rest);
    return usage();
}
