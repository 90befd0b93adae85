#include "search/OVNSearchFields.h"

#include <QLatin1String>

namespace OVNSearchFields {

namespace {

constexpr Holds Text = Holds::Text;
constexpr Holds Binary = Holds::Binary;
constexpr Holds Number = Holds::Number;
constexpr Holds Date = Holds::Date;
constexpr Length Short = Length::Short;
constexpr Length Long = Length::Long;

} // namespace

const std::vector<Column> &columns()
{
    // What the server's create script declares: TEXT and BYTEA are long, a varchar of a given
    // width short; numbers and timestamps are short.
    static const std::vector<Column> table = {
        {"strvfile", "mid", Text, Short},
        {"strvfile", "categoryid", Text, Short},
        {"strvfile", "displaytag", Text, Short},
        {"strvfile", "cataloguedby", Text, Short},
        {"strvfile", "volumetype", Text, Short},
        {"strvfile", "volumename", Text, Short},
        {"strvfile", "servername", Text, Short},
        {"strvfile", "serverpath", Text, Long},
        {"strvfile", "absolutepath", Text, Long},
        {"strvfile", "thumbimage", Binary, Long},
        {"strvfile", "filetype", Text, Short},
        {"strvfile", "filesize", Number, Short},
        {"strvfile", "imagewidth", Number, Short},
        {"strvfile", "imageheight", Number, Short},
        {"strvfile", "filedts", Date, Short},
        {"strvfile", "dts", Date, Short},
        {"strvfile", "keywords", Text, Long},
        {"strvfile", "shortdesc", Text, Long},
        {"strvfile", "fulldesc", Text, Long},
        {"strvfile", "pricetag", Number, Short},
        {"strvfile", "modrelavailable", Number, Short},
        {"strvfile", "modrelinfo", Text, Short},
        {"strvfile", "proprelavailable", Number, Short},
        {"strvfile", "proprelinfo", Text, Short},
        {"strvfile", "rating", Number, Short},
        {"strvfile", "orientation", Number, Short},

        {"strvexif", "id", Number, Short},
        {"strvexif", "mid", Text, Short},
        {"strvexif", "cameramake", Text, Short},
        {"strvexif", "cameramodel", Text, Short},
        // A text of 20 characters: dates as the camera wrote them, or "n/a".
        {"strvexif", "datetime", Text, Short},
        {"strvexif", "height", Number, Short},
        {"strvexif", "width", Number, Short},
        {"strvexif", "orientation", Number, Short},
        {"strvexif", "iscolor", Number, Short},
        {"strvexif", "process", Number, Short},
        {"strvexif", "flashused", Number, Short},
        {"strvexif", "focallength", Number, Short},
        {"strvexif", "exposuretime", Number, Short},
        {"strvexif", "aperturefnumber", Number, Short},
        {"strvexif", "distance", Number, Short},
        {"strvexif", "ccdwidth", Number, Short},
        {"strvexif", "exposurebias", Number, Short},
        {"strvexif", "digitalzoomratio", Number, Short},
        {"strvexif", "focallength35mmequiv", Number, Short},
        {"strvexif", "whitebalance", Number, Short},
        {"strvexif", "meteringmode", Number, Short},
        {"strvexif", "exposureprogram", Number, Short},
        {"strvexif", "exposuremode", Number, Short},
        {"strvexif", "isoequivalent", Number, Short},
        {"strvexif", "lightsource", Number, Short},
        {"strvexif", "comments", Text, Long},
        {"strvexif", "thumbnail", Binary, Long},
        {"strvexif", "exiftags", Text, Long},
        {"strvexif", "iptctags", Text, Long},
        {"strvexif", "addtags", Text, Long},

        {"strvpurchased", "id", Number, Short},
        {"strvpurchased", "mid", Text, Short},
        {"strvpurchased", "licensetype", Number, Short},
        {"strvpurchased", "licenserestrictions", Text, Long},
        {"strvpurchased", "owner", Text, Short},
        {"strvpurchased", "ordernumber", Text, Short},
        {"strvpurchased", "photographer", Text, Short},

        {"strvsold", "id", Number, Short},
        {"strvsold", "mid", Text, Short},
        {"strvsold", "licensetype", Number, Short},
        {"strvsold", "licenserestrictions", Text, Long},
        {"strvsold", "customer", Text, Short},
    };
    return table;
}

const Column *column(QStringView table, QStringView name)
{
    for (const Column &entry : columns()) {
        if ((table.isEmpty() || QLatin1String(entry.table).compare(table, Qt::CaseInsensitive) == 0)
            && QLatin1String(entry.name).compare(name, Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

QStringList columnsOf(QStringView table)
{
    QStringList names;
    for (const Column &entry : columns()) {
        if (QLatin1String(entry.table) == table)
            names.append(QLatin1String(entry.name));
    }
    return names;
}

const std::vector<Field> &fields()
{
    using K = Kind;
    // The licence choices follow the details pane's pop-ups, whose positions are what it stores.
    // The keywords live in "shortdesc" and the title in "keywords": the titles name the contents.
    static const std::vector<Field> table = {
        {"Generic", "Meta Data", "strvexif", "exiftags", K::Text, {}, BothMenus, "addtags"},
        {"Media Info",
         "Title / Short Description",
         "strvfile",
         "keywords",
         K::Text,
         {},
         BothMenus,
         nullptr,
         QuickShortDescription,
         "Short Description"},
        {"", "Keywords", "strvfile", "shortdesc", K::Text, {}, BothMenus, nullptr, QuickKeywords, "Keywords"},
        {"",
         "Full Description",
         "strvfile",
         "fulldesc",
         K::Text,
         {},
         BothMenus,
         nullptr,
         QuickFullDescription,
         "Full Description"},
        {"", "Got Model Release", "strvfile", "modrelavailable", K::YesNo},
        {"", "Model Release", "strvfile", "modrelinfo", K::Text},
        {"", "Got Property Release", "strvfile", "proprelavailable", K::YesNo},
        {"", "Property Release", "strvfile", "proprelinfo", K::Text},
        {"", "Rating", "strvfile", "rating", K::Number, {}, BothMenus, nullptr, QuickRating, "Rating"},
        {"", "Volume Name", "strvfile", "volumename", K::Text, {}, FindLineMenu},
        {"Purchased",
         "License Type",
         "strvpurchased",
         "licensetype",
         K::Choice,
         {QStringLiteral("Royalty Free"), QStringLiteral("Rights Managed"), QStringLiteral("No License")}},
        {"", "Allowed Usage", "strvpurchased", "licenserestrictions", K::Text},
        {"", "Copyright Owner", "strvpurchased", "owner", K::Text},
        {"", "Order Number", "strvpurchased", "ordernumber", K::Text},
        {"", "Photographer", "strvpurchased", "photographer", K::Text},
        {"Sold",
         "License Type",
         "strvsold",
         "licensetype",
         K::Choice,
         {QStringLiteral("Exclusive"), QStringLiteral("Royalty Free"), QStringLiteral("Rights Managed"),
          QStringLiteral("Not Sold")}},
        {"", "Allowed Usage", "strvsold", "licenserestrictions", K::Text},
        {"", "Customer", "strvsold", "customer", K::Text},
        {"File Info", "Name", "strvfile", "displaytag", K::Text, {}, BothMenus, nullptr, QuickDisplayTag, "Displaytag"},
        {"", "Server", "strvfile", "servername", K::Text},
        {"", "File Path", "strvfile", "absolutepath", K::Text},
        {"", "File Size", "strvfile", "filesize", K::Number},
        {"", "Image Width", "strvfile", "imagewidth", K::Number},
        {"", "Image Height", "strvfile", "imageheight", K::Number},
        {"", "Image Pixels", "strvfile", "imagewidth*imageheight", K::Number},
        {"", "File Date", "strvfile", "filedts", K::Date},
        {"", "Import Date", "strvfile", "dts", K::Date},
        {"Meta Data", "Camera Make", "strvexif", "cameramake", K::Text},
        {"", "Camera Model", "strvexif", "cameramodel", K::Text},
        {"", "Image Created", "strvexif", "datetime", K::Date},
        {"", "Image Width", "strvexif", "width", K::Number},
        {"", "Image Height", "strvexif", "height", K::Number},
        {"", "Image Pixels", "strvexif", "width*height", K::Number},
        {"", "Orientation", "strvexif", "orientation", K::Number},
        {"", "Is Color", "strvexif", "iscolor", K::Number},
        {"", "Flash Used", "strvexif", "flashused", K::Number},
        {"", "Focal Length", "strvexif", "focallength", K::Number},
        {"", "Focal Length (35 mm)", "strvexif", "focallength35mmequiv", K::Number},
        {"", "Exposure", "strvexif", "exposuretime", K::Number},
        {"", "Aperture (f)", "strvexif", "aperturefnumber", K::Number},
        {"", "Digital Zoom", "strvexif", "digitalzoomratio", K::Number},
        {"", "ISO Equivalent", "strvexif", "isoequivalent", K::Number},
        {"", "Light Source", "strvexif", "lightsource", K::Number},
        {"", "Comment", "strvexif", "comments", K::Text},
    };
    return table;
}

QStringList qualifiedColumns(const Field &field)
{
    QStringList qualified;
    for (const QString &name : QString::fromLatin1(field.column).split(QLatin1Char('*')))
        qualified.append(QLatin1String(field.table) + QLatin1Char('.') + name);
    return qualified;
}

const Field *quickField(int tag)
{
    if (tag == NoQuickTag)
        return nullptr;
    for (const Field &field : fields()) {
        if (field.quickTag == tag)
            return &field;
    }
    return nullptr;
}

} // namespace OVNSearchFields
