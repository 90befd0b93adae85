// The expert search's condition check against SQLite's own reading: whatever a condition holds,
// one the check lets through makes one statement that reads only the searched tables and calls
// only plain functions, as SQLite's authorizer sees it while preparing.

#include "search/OVNExpertCondition.h"

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

bool named(const char *name, std::initializer_list<const char *> list)
{
    if (!name)
        return false;
    for (const char *entry : list) {
        if (sqlite3_stricmp(name, entry) == 0)
            return true;
    }
    return false;
}

int authorizer(void *, int action, const char *first, const char *second, const char *, const char *)
{
    switch (action) {
    case SQLITE_SELECT:
        return SQLITE_OK;
    case SQLITE_READ:
        if (!named(first, {"strvfile", "strvexif", "strvpurchased", "strvsold"}))
            __builtin_trap();
        return SQLITE_OK;
    case SQLITE_FUNCTION:
        if (!named(second,
                   {"upper", "lower", "length", "substr", "substring", "trim", "ltrim", "rtrim", "coalesce", "abs",
                    "round", "date", "datetime", "julianday", "strftime", "date_part", "date_trunc", "like"}))
            __builtin_trap();
        return SQLITE_OK;
    default:
        __builtin_trap();
    }
}

sqlite3 *catalog()
{
    static sqlite3 *db = [] {
        sqlite3 *opened = nullptr;
        sqlite3_open(":memory:", &opened);
        sqlite3_exec(opened,
                     "create table strvfile (mid, categoryid, displaytag, cataloguedby, volumetype, volumename, "
                     "servername, serverpath, absolutepath, thumbimage, filetype, filesize, imagewidth, imageheight, "
                     "filedts, dts, keywords, shortdesc, fulldesc, pricetag, modrelavailable, modrelinfo, "
                     "proprelavailable, proprelinfo, rating, orientation);"
                     "create table strvexif (id, mid, cameramake, cameramodel, datetime, height, width, orientation, "
                     "iscolor, process, flashused, focallength, exposuretime, aperturefnumber, distance, ccdwidth, "
                     "exposurebias, digitalzoomratio, focallength35mmequiv, whitebalance, meteringmode, "
                     "exposureprogram, exposuremode, isoequivalent, lightsource, comments, thumbnail, exiftags, "
                     "iptctags, addtags);"
                     "create table strvpurchased (id, mid, licensetype, licenserestrictions, owner, ordernumber, "
                     "photographer);"
                     "create table strvsold (id, mid, licensetype, licenserestrictions, customer);"
                     "create table strvusers (mid, name, login, password);",
                     nullptr, nullptr, nullptr);
        sqlite3_set_authorizer(opened, authorizer, nullptr);
        return opened;
    }();
    return db;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString condition = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<OVNExpertCondition::Refusal> refused = OVNExpertCondition::check(condition);
    if (refused) {
        if (refused->message.isEmpty())
            __builtin_trap();
        return 0;
    }
    const QByteArray sql =
        "select strvfile.mid from strvfile left outer join strvpurchased on strvfile.mid=strvpurchased.mid "
        "left outer join strvsold on strvfile.mid=strvsold.mid left outer join strvexif on "
        "strvfile.mid=strvexif.mid where ("
        + condition.toUtf8() + ")";
    sqlite3_stmt *statement = nullptr;
    const char *tail = nullptr;
    sqlite3_prepare_v2(catalog(), sql.constData(), int(sql.size()), &statement, &tail);
    // One statement, read whole.
    if (statement && tail != sql.constData() + sql.size())
        __builtin_trap();
    sqlite3_finalize(statement);
    return 0;
}
