// ovn-filetype FILE...: prints the file-type table's answers for each file, as the import and the
// viewers see them (the user's "FileTypeMapping" preference, or the built-in table).

#include "formats/OVNExtensionMapping.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

namespace {

constexpr const char *usageText = "usage: ovn-filetype FILE...\n"
                                  "Prints each file's processor, viewer, type, metadata flags and thumbnail size.\n";

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText, {}))
        return *end;
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList files = app.arguments().mid(1);
    if (files.isEmpty()) {
        err << usageText;
        return 2;
    }

    const OVNExtensionMapping mapping;
    for (const QString &file : files) {
        const QSize thumb = mapping.getThumbSizeForFile(file);
        out << ToolText::printable(file) << '\t' << "processor=" << mapping.getProcessorForFile(file)
            << " viewer=" << mapping.getViewerForFile(file) << " type=" << mapping.getTypeForFile(file)
            << " exif=" << (mapping.getParseEXIFForFile(file) ? 1 : 0)
            << " iptc=" << (mapping.getParseIPTCForFile(file) ? 1 : 0) << " thumbnail=" << thumb.width() << 'x'
            << thumb.height() << (QFileInfo::exists(file) ? "" : " (missing)") << '\n';
    }
    return 0;
}
