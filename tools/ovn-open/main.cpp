// ovn-open [--dry-run] FILE...: where the program would open each file, one line per file:
//   viewer image|movie FILE      one of our viewers, by the file-type table
//   desktop ENTRY.desktop FILE   the desktop's default application for the file's type
//   refused FILE: <alert>        the desktop would hand it back to us, or has no application
//   missing FILE: <alert>        the file is not there
//   nothing FILE                 the file-type table opens it nowhere
// Without --dry-run the desktop's application is started for the "desktop" lines.
// File names and the alerts' texts are printed with control characters written out (\xHH) and a
// backslash as \\, as every tool prints them.
// Exit status: 0 when every file has somewhere to go (and started), 1 otherwise, 2 for usage.

#include "app/OVNDocumentController.h"
#include "app/OVNOpenRoute.h"
#include "formats/OVNExtensionMapping.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

namespace {

constexpr const char *usageText =
    "usage: ovn-open [--dry-run] FILE...\n"
    "Prints where each file opens (viewer, desktop application, refused, missing or nothing);\n"
    "without --dry-run also starts the desktop application.\n";

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText, {{"--dry-run"}}))
        return *end;
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList files = app.arguments().mid(1);
    const bool dryRun = !files.isEmpty() && files.first() == QLatin1String("--dry-run");
    if (dryRun)
        files.removeFirst();
    if (files.isEmpty()) {
        err << usageText;
        return 2;
    }

    const OVNExtensionMapping mapping;
    int status = 0;
    for (const QString &file : std::as_const(files)) {
        const QString path = file.isEmpty() ? file : QFileInfo(file).absoluteFilePath();
        OVNOpenRoute route = OVNOpenRoute::forFile(path, QString(), mapping);
        route.path = file;
        out << ToolText::printable(route.describe()) << '\n';
        out.flush();
        switch (route.kind) {
        case OVNOpenRoute::Kind::Desktop:
            route.path = path;
            if (!dryRun && !OVNDocumentController::launch(route)) {
                err << "ovn-open: " << ToolText::printable(route.application.id) << " could not be started for "
                    << ToolText::printable(file) << '\n';
                status = 1;
            }
            break;
        case OVNOpenRoute::Kind::ImageViewer:
        case OVNOpenRoute::Kind::MovieViewer:
            break;
        default:
            status = 1;
            break;
        }
    }
    return status;
}
