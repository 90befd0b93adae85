#include "app/OVNPrintSettings.h"

#include "app/OVNPrintOptionsView.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QPrinter>

#include <algorithm>

namespace {
const QString kPrintSettingsKey = QStringLiteral("PrintSettings");
const QString kOutputFileKey = QStringLiteral("OutputFile");
const QString kToFileKey = QStringLiteral("ToFile");
} // namespace

std::optional<OVNPrintSettings> OVNPrintSettings::stored(UserDefaults &defaults)
{
    const QVariantMap last = defaults.dictionaryForKey(kPrintSettingsKey);
    if (last.isEmpty())
        return std::nullopt;
    const auto number = [&last](const char *key) {
        return UserDefaults::integerFromVariant(last.value(QLatin1String(key)));
    };
    OVNPrintSettings settings;
    if (last.contains(QStringLiteral("ImagesPerLine")))
        settings.imagesPerLine =
            int(std::clamp<qint64>(number("ImagesPerLine"), 1, OVNPrintOptionsView::maximumImagesPerLine));
    if (last.contains(QStringLiteral("Style")))
        settings.style = int(std::clamp<qint64>(number("Style"), 0, 9));
    settings.selectionOnly = UserDefaults::boolFromVariant(last.value(QStringLiteral("SelectionOnly")));
    const QPageSize size(QPageSize::PageSizeId(std::clamp<qint64>(number("PageSize"), 0, QPageSize::LastPageSize)));
    if (last.contains(QStringLiteral("PageSize")) && size.isValid())
        settings.pageSize = size;
    settings.orientation = UserDefaults::stringFromVariant(last.value(QStringLiteral("Orientation")))
                                   == QLatin1String("Landscape")
                               ? QPageLayout::Landscape
                               : QPageLayout::Portrait;
    settings.outputFile = UserDefaults::stringFromVariant(last.value(kOutputFileKey));
    settings.toFile = UserDefaults::boolFromVariant(last.value(kToFileKey));
    return settings;
}

void OVNPrintSettings::remember(UserDefaults &defaults, const QPrinter &printer, int imagesPerLine, int style,
                                bool selectionOnly)
{
    const QPageLayout paper = printer.pageLayout();
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty();
    const QString outputFile = toFile ? QFileInfo(printer.outputFileName()).absoluteFilePath()
                                      : defaults.dictionaryForKey(kPrintSettingsKey).value(kOutputFileKey).toString();
    defaults.setObject(
        QVariantMap{{QStringLiteral("ImagesPerLine"), QString::number(imagesPerLine)},
                    {QStringLiteral("Style"), QString::number(style)},
                    {QStringLiteral("SelectionOnly"), selectionOnly ? QStringLiteral("1") : QStringLiteral("0")},
                    {QStringLiteral("PageSize"), QString::number(int(paper.pageSize().id()))},
                    {QStringLiteral("Orientation"), paper.orientation() == QPageLayout::Landscape
                                                        ? QStringLiteral("Landscape")
                                                        : QStringLiteral("Portrait")},
                    {kOutputFileKey, outputFile},
                    {kToFileKey, toFile ? QStringLiteral("1") : QStringLiteral("0")}},
        kPrintSettingsKey);
}

QString OVNPrintSettings::proposedOutputFile(UserDefaults &defaults)
{
    const std::optional<OVNPrintSettings> last = stored(defaults);
    if (!last || !last->toFile || last->outputFile.isEmpty() || !QFileInfo(last->outputFile).absoluteDir().exists())
        return QString();
    return last->outputFile;
}

QPageLayout OVNPrintSettings::appliedTo(QPageLayout paper) const
{
    if (pageSize)
        paper.setPageSize(*pageSize);
    paper.setOrientation(orientation);
    return paper;
}

void OVNPrintSettings::applyMargins(QPrinter &printer)
{
    printer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Point);
}

QString OVNPrintSettings::statusText(int imagesPerLine, int pages)
{
    return countedText(imagesPerLine, "%1 Image per Line", "%1 Images per Line")
           + countedText(pages, " (%1 page)", " (%1 pages)");
}
