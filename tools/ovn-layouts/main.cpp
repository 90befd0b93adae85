// ovn-layouts: reads the stored thumbnail layouts as the thumbnail views and the layout editor do,
// and lists them with every value that had to be repaired.
//
//   ovn-layouts [--set INDEX KEY VALUE] [--render DIR] [-Key Value ...]
//
// The preferences are the program's own ($XDG_CONFIG_HOME/ostrevan/preferences.plist), with
// "-Key Value" pairs taking precedence as they do for the program. --set makes one edit through
// the editor's list with row INDEX selected and stores the list as the editor does (a colour VALUE
// is a colour name such as "#80ff0000", a font VALUE is "NAME,SIZE"). --render writes each
// layout's 130 by 130 editor preview to DIR/layout-N.png.

#include "app/OVNSplashScreen.h"
#include "browser/OVNThumbnailLayoutList.h"
#include "browser/OVNThumbnailLayoutListModel.h"
#include "formats/OVNHelper.h"
#include "platform/UserDefaults.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QTextStream>

namespace {

constexpr const char *usageText = "usage: ovn-layouts [--set INDEX KEY VALUE] [--render DIR] [-Key Value ...]\n";

int usage()
{
    QTextStream(stderr) << usageText;
    return 2;
}

// A --set value as the editor's control for that key would give it.
QVariant valueForKey(const QString &key, const QString &text, QString *error)
{
    if (key.endsWith(QLatin1String("Color"))) {
        const QColor color = QColor::fromString(text);
        if (!color.isValid()) {
            *error = QStringLiteral("not a colour: %1").arg(text);
            return QVariant();
        }
        return OVNHelper::encodeColor(color.toRgb());
    }
    if (key.endsWith(QLatin1String("Font"))) {
        const qsizetype comma = text.lastIndexOf(QLatin1Char(','));
        const std::optional<double> size = comma > 0 ? ToolNumber::parseReal(text.mid(comma + 1), 1, 1000)
                                                     : std::nullopt;
        if (!size) {
            *error = QStringLiteral("a font is NAME,SIZE with a size from 1 to 1000: %1").arg(text);
            return QVariant();
        }
        return OVNHelper::encodeFontWithName(text.left(comma).trimmed(), *size);
    }
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end =
            ToolUsage::check(argc, argv, usageText, {{"--set", 3}, {"--render", 1}, {"-*", 1}}))
        return *end;
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrevan"));

    QStringList rest{QApplication::arguments().value(0)};
    QStringList set;
    QString renderDir;
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--set")) {
            if (i + 3 >= arguments.size())
                return usage();
            set = arguments.mid(i + 1, 3);
            i += 3;
        } else if (argument == QLatin1String("--render")) {
            if (i + 1 >= arguments.size())
                return usage();
            renderDir = arguments.at(++i);
        } else {
            rest.append(argument);
        }
    }

    UserDefaults &defaults = UserDefaults::standard();
    defaults.setArguments(rest);
    if (!defaults.loadProblem().isEmpty())
        QTextStream(stderr) << ToolText::printable(defaults.loadProblem()) << Qt::endl;

    OVNThumbnailLayoutListModel model(defaults);
    model.load();
    const OVNLayoutListReading &reading = model.reading();
    QTextStream out(stdout);
    for (int i = 0; i < reading.layouts.size(); ++i) {
        QString name = reading.layouts.at(i).toMap().value(QStringLiteral("NAME")).toString();
        if (name.size() > 80)
            name = name.left(80) + QStringLiteral("...");
        out << "layout " << i << ": " << ToolText::printable(name)
            << (reading.fromStore.at(i) ? " (stored)" : " (built-in)") << '\n';
    }
    for (const OVNLayoutProblem &problem : reading.problems)
        out << "problem: layout " << problem.layout << ' ' << ToolText::printable(problem.key) << ": "
            << ToolText::printable(problem.reason) << '\n';
    out.flush();

    int status = 0;
    if (!set.isEmpty()) {
        const std::optional<int> index = ToolNumber::integer32("--set", set.at(0), 0, int(model.rowCount()) - 1);
        if (!index)
            return 2;
        QString error;
        const QVariant value = valueForKey(set.at(1), set.at(2), &error);
        if (!value.isValid()) {
            QTextStream(stderr) << "ovn-layouts: " << ToolText::printable(error) << Qt::endl;
            return 2;
        }
        model.setSelectedRows({*index});
        if (model.setValue(set.at(1), value) == OVNThumbnailLayoutListModel::EditResult::Saved) {
            out << "set: layout " << *index << ' ' << ToolText::printable(set.at(1)) << " stored in "
                << ToolText::printable(defaults.filePath()) << '\n';
            if (model.storedListKept() && !model.keptCopyPath().isEmpty())
                out << "kept: " << ToolText::printable(model.keptCopyPath()) << '\n';
        } else {
            QTextStream(stderr) << "ovn-layouts: " << ToolText::printable(model.lastError()) << Qt::endl;
            status = 1;
        }
        out.flush();
    }

    if (!renderDir.isEmpty()) {
        if (!QDir().mkpath(renderDir)) {
            QTextStream(stderr) << "ovn-layouts: cannot make " << ToolText::printable(renderDir) << Qt::endl;
            return 1;
        }
        const QImage picture = OVNSplashScreen::artworkImage();
        for (int i = 0; i < model.rowCount(); ++i) {
            const QString path = QDir(renderDir).filePath(QStringLiteral("layout-%1.png").arg(i));
            if (!model.preview(model.layout(i), picture).save(path)) {
                QTextStream(stderr) << "ovn-layouts: cannot write " << ToolText::printable(path) << Qt::endl;
                status = 1;
            }
        }
    }
    return status;
}
