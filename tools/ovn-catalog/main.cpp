// ovn-catalog: looks into a catalog file through the catalog layer, so that the layer can be
// checked from outside.
//
//   ovn-catalog FILE create
//   ovn-catalog FILE add-category NAME [KIND [PARENT-ID]]     KIND one of F C S M I (default C)
//   ovn-catalog FILE add-media CATEGORY-ID PATH [THUMBNAIL-JPEG]
//   ovn-catalog FILE link MEDIA-ID SET-ID
//   ovn-catalog FILE categories
//   ovn-catalog FILE media [CATEGORY-ID [KIND]]               all media without a category
//
// Lists are tab-separated, one item a line. Failures go to standard error with the exit status 1.

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/SystemInfo.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int fail(const QString &message)
{
    QTextStream(stderr) << "ovn-catalog: " << message << Qt::endl;
    return 1;
}

int usage()
{
    QTextStream(stderr)
        << "usage: ovn-catalog FILE create\n"
           "       ovn-catalog FILE add-category NAME [KIND [PARENT-ID]]\n"
           "       ovn-catalog FILE add-media CATEGORY-ID PATH [THUMBNAIL-JPEG]\n"
           "       ovn-catalog FILE link MEDIA-ID SET-ID\n"
           "       ovn-catalog FILE categories\n"
           "       ovn-catalog FILE media [CATEGORY-ID [KIND]]\n";
    return 2;
}

void printCategory(const CategoryNode &node, int depth)
{
    out() << QString(depth * 2, QLatin1Char(' ')) << node.value(QStringLiteral("mid")).toString() << '\t'
          << node.value(QStringLiteral("type")).toString() << '\t'
          << node.value(QStringLiteral("displaytag")).toString() << '\t'
          << node.value(QStringLiteral("MYPRIVILEGES")).toString() << '\n';
}

void printChildren(OVNDatabaseAccess &db, const QString &parent, int depth)
{
    if (depth > 64)
        return; // a cycle in the stored tree
    for (const CategoryNode &child : db.getCategoryListForMID(parent)) {
        printCategory(child, depth);
        if (child.value(QStringLiteral("type")).toString() == QLatin1String("F"))
            printChildren(db, child.value(QStringLiteral("mid")).toString(), depth + 1);
    }
}

int listCategories(OVNDatabaseAccess &db)
{
    for (const char *kind : {"F", "C", "M", "I", "S"}) {
        for (const CategoryNode &node : db.getCategoryList(QString::fromLatin1(kind))) {
            printCategory(node, 0);
            if (node.value(QStringLiteral("type")).toString() == QLatin1String("F"))
                printChildren(db, node.value(QStringLiteral("mid")).toString(), 1);
        }
    }
    out().flush();
    return 0;
}

int listMedia(OVNDatabaseAccess &db, const QStringList &arguments)
{
    const MediaList records = arguments.isEmpty()
        ? db.getMediaList(QStringLiteral("0"), QStringLiteral("EXPANDABLE"))
        : db.getMediaList(arguments.at(0), arguments.value(1, QStringLiteral("C")));
    for (const MediaRecordRef &entry : records) {
        const MediaRecord &record = *entry;
        out() << record.value(QStringLiteral("mid")).toString() << '\t'
              << record.value(QStringLiteral("displaytag")).toString() << '\t'
              << record.value(QStringLiteral("absolutepath")).toString() << '\t'
              << record.value(QStringLiteral("filesize")).toString() << '\t'
              << record.value(QStringLiteral("categoryid")).toString() << '\t'
              << record.value(QStringLiteral("imagesetmid")).toString() << '\t'
              << db.getThumbnailForMediaID(record.value(QStringLiteral("mid")).toString()).size() << '\n';
    }
    out().flush();
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
    const QVariantMap record = {
        {QStringLiteral("categoryid"), arguments.at(0)},
        {QStringLiteral("cataloguedby"), SystemInfo::fullName()},
        {QStringLiteral("volumetype"), QStringLiteral("local")},
        {QStringLiteral("volumename"), QString()},
        {QStringLiteral("displaytag"), file.fileName()},
        {QStringLiteral("servername"), SystemInfo::hostName()},
        {QStringLiteral("serverpath"), QString()},
        {QStringLiteral("absolutepath"), file.absoluteFilePath()},
        {QStringLiteral("filesize"), file.size()},
        {QStringLiteral("filedts"), OVNDatabaseAccess::timestampText(file.lastModified())},
        {QStringLiteral("dts"), OVNDatabaseAccess::timestampText(QDateTime::currentDateTime())},
        {QStringLiteral("filetype"), file.suffix().toLower()},
        {QStringLiteral("thumbimage"), thumbnail},
    };
    const QString mid = db.addMediaListEntry(record);
    if (mid.isEmpty())
        return fail(db.getLastErrorMessage());
    out() << mid << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() < 2)
        return usage();
    const QString path = arguments.at(0);
    const QString command = arguments.at(1);
    const QStringList rest = arguments.mid(2);

    if (command != QLatin1String("create") && !QFileInfo::exists(path))
        return fail(QStringLiteral("no catalog file at %1 (make one with \"create\")").arg(path));
    OVNDatabaseAccess db;
    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (!db.openDBConnection())
        return fail(db.getLastErrorMessage());

    if (command == QLatin1String("create")) {
        if (db.checkForDatabaseSetup())
            return fail(QStringLiteral("%1 already holds a catalog").arg(path));
        if (!OVNDBHelper::prefDBCreateLocalDatabase(db))
            return fail(db.getLastErrorMessage());
        return 0;
    }
    if (!db.checkForDatabaseSetup())
        return fail(QStringLiteral("%1 holds no catalog").arg(path));
    if (command == QLatin1String("add-category")) {
        if (rest.isEmpty())
            return usage();
        const QString mid = db.addCategoryListEntry(rest.at(0), rest.value(1, QStringLiteral("C")));
        if (mid.isEmpty())
            return fail(db.getLastErrorMessage());
        if (rest.size() > 2 && !db.setCategoryListEntrySuperMID(mid, rest.at(2)))
            return fail(db.getLastErrorMessage());
        out() << mid << Qt::endl;
        return 0;
    }
    if (command == QLatin1String("add-media"))
        return addMedia(db, rest);
    if (command == QLatin1String("link")) {
        if (rest.size() < 2)
            return usage();
        const QString mid = db.addEntryToImageSet(rest.at(0), rest.at(1));
        if (mid.isEmpty())
            return fail(db.getLastErrorMessage());
        out() << mid << Qt::endl;
        return 0;
    }
    if (command == QLatin1String("categories"))
        return listCategories(db);
    if (command == QLatin1String("media"))
        return listMedia(db, rest);
    return usage();
}
