// ovn-metadump FILE...: the metadata dictionary the import would read from each file, sorted by
// key, one "key = value" a line. .xmp files are read as XMP sidecars.
#include "formats/OVNImageTagParser.h"
#include "formats/OVNXMPHelper.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

#include <algorithm>

namespace {

constexpr const char *usageText = "usage: ovn-metadump FILE...\n"
                                  "Prints the metadata dictionary of each file, sorted by key.\n";

// One value on one line: line breaks inside XMP texts are shown as \n and \r, every other control
// character and the backslash as the tools write them (ToolText).
QString printable(const QVariant &value)
{
    const QString text = value.typeId() == QMetaType::Double ? OVNImageTagParser::textOfNumber(value)
                                                             : value.toString();
    QString out;
    for (qsizetype from = 0; from < text.size();) {
        qsizetype to = from;
        while (to < text.size() && text.at(to) != u'\n' && text.at(to) != u'\r')
            ++to;
        out += ToolText::printable(text.mid(from, to - from));
        if (to < text.size())
            out += text.at(to) == u'\n' ? QStringLiteral("\\n") : QStringLiteral("\\r");
        from = to + 1;
    }
    return out;
}

QString printable(const QString &text) { return ToolText::printable(text); }

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText, {}))
        return *end;
    QCoreApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (files.isEmpty()) {
        err << usageText;
        return 2;
    }

    int failures = 0;
    for (const QString &path : std::as_const(files)) {
        const QFileInfo info(path);
        if (!info.isFile() || !info.isReadable()) {
            err << "ovn-metadump: cannot read " << printable(path) << "\n";
            ++failures;
            continue;
        }
        MetadataDictionary metadata;
        if (info.suffix().compare(QLatin1String("xmp"), Qt::CaseInsensitive) == 0)
            metadata = OVNXMPHelper().parseXMPFile(path);
        else
            metadata = OVNImageTagParser().parseFileForExifInfo(path);

        if (files.size() > 1)
            out << "==> " << printable(path) << " <==\n";
        QStringList keys = metadata.keys();
        std::sort(keys.begin(), keys.end());
        for (const QString &key : std::as_const(keys))
            out << key << " = " << printable(metadata.value(key)) << "\n";
        if (files.size() > 1)
            out << "\n";
    }
    return failures == 0 ? 0 : 1;
}
