// ovn-burn IMAGE [--name DISC-NAME] [--medium-size BYTES] [--cancel-at PERCENT] FILE...:
// burns the files to the pseudo drive stdio:IMAGE as the disc burner does, printing each status
// text, then "done: N files, B bytes". Failures print "refused: TEXT", "failed: TEXT" or
// "cancelled: drive released" and exit 1.

#include "output/OVNDiscBurner.h"
#include "platform/DiscBurn.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

namespace {

constexpr const char *usageText = "usage: ovn-burn IMAGE [--name DISC-NAME] [--medium-size BYTES] "
                                  "[--cancel-at PERCENT] FILE...\n";

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end =
            ToolUsage::check(argc, argv, usageText, {{"--name", 1}, {"--medium-size", 1}, {"--cancel-at", 1}}))
        return *end;
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QString name = QStringLiteral("Ostrevan Backup Disc");
    qint64 mediumSize = 0;
    int cancelAt = -1;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--name") && hasValue)
            name = args.at(++i);
        else if (arg == QLatin1String("--medium-size") && hasValue) {
            const std::optional<qint64> bytes = ToolNumber::integer("--medium-size", args.at(++i), 0);
            if (!bytes)
                return 2;
            mediumSize = *bytes;
        } else if (arg == QLatin1String("--cancel-at") && hasValue) {
            const std::optional<int> percent = ToolNumber::integer32("--cancel-at", args.at(++i), 0, 100);
            if (!percent)
                return 2;
            cancelAt = *percent;
        } else if (arg.startsWith(QLatin1String("--"))) {
            std::fputs(usageText, stderr);
            return 2;
        } else
            positional.append(arg);
    }
    if (positional.size() < 2) {
        std::fputs(usageText, stderr);
        return 2;
    }
    const QString image = QFileInfo(positional.takeFirst()).absoluteFilePath();
    // The sheet's view of the selected drive first: its status line and action button.
    OVNDiscBurner::DriveState state;
    switch (DiscBurn::mediaAt(QStringLiteral("stdio:") + image)) {
    case DiscBurn::Media::Writable:
        state.media = OVNDiscBurner::DriveState::Media::Writable;
        break;
    case DiscBurn::Media::Full:
        state.media = OVNDiscBurner::DriveState::Media::Full;
        break;
    case DiscBurn::Media::None:
        state.media = OVNDiscBurner::DriveState::Media::None;
        break;
    case DiscBurn::Media::Unknown:
        break;
    }
    const OVNDiscBurner::Presentation shown = OVNDiscBurner::present(state);
    std::printf("%s\n%s\n", ToolText::utf8(shown.status).constData(), ToolText::utf8(shown.button).constData());
    if (state.media != OVNDiscBurner::DriveState::Media::Writable) {
        std::printf("refused: %s\n", ToolText::utf8(shown.status).constData());
        return 1;
    }
    const DiscBurn::Result result = DiscBurn::burnToImageFile(
        image, name, positional, mediumSize,
        [last = QString()](const QString &text, int) mutable {
            if (text == last)
                return; // progress within one state
            last = text;
            std::printf("%s\n", ToolText::utf8(text).constData());
            std::fflush(stdout);
        },
        cancelAt);
    switch (result.outcome) {
    case DiscBurn::Outcome::Done:
        std::printf("done: %d %s, %lld bytes\n", result.files, result.files == 1 ? "file" : "files",
                    static_cast<long long>(result.bytes));
        return 0;
    case DiscBurn::Outcome::Refused:
        std::printf("refused: %s\n", ToolText::utf8(result.text).constData());
        break;
    case DiscBurn::Outcome::Failed:
        std::printf("failed: %s\n", ToolText::utf8(result.text).constData());
        break;
    case DiscBurn::Outcome::Cancelled:
        std::printf("cancelled: %s\n", ToolText::utf8(result.text).constData());
        break;
    }
    return 1;
}
