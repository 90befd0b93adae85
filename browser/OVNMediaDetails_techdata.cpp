// The File Info and Meta Data tabs: one read-only two-column table, and the size formatters.

#include "browser/OVNMediaDetails.h"

#include "browser/OVNMediaDetailsDataSource.h"
#include "formats/FileTypeEntry.h"
#include "platform/Localized.h"

#include <QRegularExpression>

#include <climits>
#include <cmath>

namespace {

constexpr int fileInfoRowCount = 12;

struct FileInfoRow {
    const char *label;
    const char *key;
};

// Rows 6 and 7 are formatted from more than the plain value; see fileInfoValue().
constexpr FileInfoRow fileInfoRows[fileInfoRowCount] = {
    {"File Info", "displaytag"},   {"Catalogued By", "cataloguedby"}, {"Volume Type", "volumetype"},
    {"Volume Name", "volumename"}, {"Server", "servername"},          {"File Path", "absolutepath"},
    {"File Size", "filesize"},     {"Image Size", "imagewidth"},      {"File Date", "filedts"},
    {"Import Date", "dts"},        {"Media Type", "filetype"},        {"Orientation", "orientation"},
};

} // namespace

int OVNMediaDetails::numberOfRowsInTableView() const
{
    if (autofill_)
        return 0;
    if (selectedtab_ == FileInfoTab)
        return fileInfoRowCount;
    if (selectedtab_ == MetaDataTab) {
        int rows = 0;
        if (datasource_)
            rows = datasource_->numberOfRowsInExifForOVNMediaDetails(const_cast<OVNMediaDetails *>(this));
        return std::max(0, rows) + 1;
    }
    return 0;
}

QString OVNMediaDetails::tableViewObjectValue(const QString &columnId, int row) const
{
    const bool label = columnId == QLatin1String("id");
    if ((!label && columnId != QLatin1String("value")) || row < 0 || autofill_)
        return QString();
    auto *self = const_cast<OVNMediaDetails *>(this);

    if (selectedtab_ == FileInfoTab) {
        if (row >= fileInfoRowCount)
            return QString();
        if (label)
            return localized(fileInfoRows[row].label);
        if (!datasourceImplementsStringForID_)
            return QString();
        if (row == 6)
            return formatFileSizeString(stringForID(QStringLiteral("filesize")));
        if (row == 7)
            return stringForID(QStringLiteral("imagewidth")) + QLatin1Char('x')
                   + stringForID(QStringLiteral("imageheight"));
        if (row == 10)
            return fileTypeCodeDisplayName(stringForID(QStringLiteral("filetype")));
        return stringForID(QString::fromLatin1(fileInfoRows[row].key));
    }

    if (selectedtab_ == MetaDataTab) {
        if (row >= numberOfRowsInTableView())
            return QString();
        if (row == 0)
            return label ? localized("Meta Data") : stringForID(QStringLiteral("displaytag"));
        if (!datasource_)
            return QString();
        // Metadata names are shown as the data source gives them; values only from a data source
        // that answers values at all.
        if (label)
            return datasource_->ovnMediaDetailsExifTagAtRow(self, row - 1);
        if (!datasourceImplementsStringForID_)
            return QString();
        return datasource_->ovnMediaDetailsExifValueAtRow(self, row - 1);
    }
    return QString();
}

QColor OVNMediaDetails::tableViewBackgroundColor(const QString &columnId, int row) const
{
    if (columnId == QLatin1String("id") || row == 0)
        return gback;
    return wback;
}

QString OVNMediaDetails::formatFileSize(double bytes)
{
    const char *unit = "Bytes";
    if (bytes > 1024.0) {
        bytes /= 1024.0;
        unit = "KB";
        if (bytes > 1024.0) {
            bytes /= 1024.0;
            unit = "MB";
        }
    }
    // asprintf is not locale-aware, so the decimal point is always a point.
    return QString::asprintf("%.2f %s", bytes, unit);
}

QString OVNMediaDetails::formatFileSizeString(const QString &bytes) { return formatFileSize(leadingDouble(bytes)); }

double OVNMediaDetails::leadingDouble(const QString &text)
{
    // Byte counts, the usual case, are read digit by digit; other plain numbers need no pattern
    // either. The pane sums the sizes of every selected entry.
    if (!text.isEmpty() && text.size() <= 15) {
        qint64 digits = 0;
        bool allDigits = true;
        for (const QChar c : text) {
            if (c < u'0' || c > u'9') {
                allDigits = false;
                break;
            }
            digits = digits * 10 + (c.unicode() - u'0');
        }
        if (allDigits)
            return double(digits);
    }
    bool plain = false;
    const double whole = text.toDouble(&plain);
    if (plain && std::isfinite(whole))
        return whole;
    static const QRegularExpression number(QStringLiteral("^\\s*([+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?)"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        return 0.0;
    bool ok = false;
    const double value = match.captured(1).toDouble(&ok);
    return ok ? value : 0.0;
}

int OVNMediaDetails::leadingInt(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return int(negative ? -value : value);
}
