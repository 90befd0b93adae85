// Contact-sheet printing: the print panel with the sheet's options, and the print itself, which
// the thumbnail view paginates and draws.
#include "app/OVNAssetManager.h"

#include "app/OVNPrintOptionsView.h"
#include "browser/OVNMediaView.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

#include <algorithm>

namespace {
// The last sheet's options and paper, one dictionary of strings in the preferences.
const QString kPrintSettingsKey = QStringLiteral("PrintSettings");
const QString kOutputFileKey = QStringLiteral("OutputFile");
const QString kToFileKey = QStringLiteral("ToFile");

void applyPrintSettings(QPrinter &printer) { printer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Point); }
} // namespace

void OVNAssetManager::restorePrintSettings()
{
    const QVariantMap last = UserDefaults::standard().dictionaryForKey(kPrintSettingsKey);
    if (last.isEmpty() || !m_state.mediaView)
        return;
    const auto number = [&last](const char *key) {
        return UserDefaults::integerFromVariant(last.value(QLatin1String(key)));
    };
    if (last.contains(QStringLiteral("ImagesPerLine")))
        m_state.mediaView->setPrintImagesPerLine(
            int(std::clamp<qint64>(number("ImagesPerLine"), 1, OVNPrintOptionsView::maximumImagesPerLine)));
    if (last.contains(QStringLiteral("Style")))
        m_state.mediaView->setPrintStyle(int(std::clamp<qint64>(number("Style"), 0, 9)));
    m_state.mediaView->setPrintSelectionOnly(
        UserDefaults::boolFromVariant(last.value(QStringLiteral("SelectionOnly"))));
    QPageLayout paper = m_state.mediaView->printInfo();
    const QPageSize size(QPageSize::PageSizeId(std::clamp<qint64>(number("PageSize"), 0, QPageSize::LastPageSize)));
    if (last.contains(QStringLiteral("PageSize")) && size.isValid())
        paper.setPageSize(size);
    paper.setOrientation(UserDefaults::stringFromVariant(last.value(QStringLiteral("Orientation")))
                                 == QLatin1String("Landscape")
                             ? QPageLayout::Landscape
                             : QPageLayout::Portrait);
    m_state.mediaView->setPrintInfo(paper);
}

void OVNAssetManager::rememberPrintSettings(const QPrinter &printer) const
{
    const QPageLayout paper = printer.pageLayout();
    // A sheet printed on paper keeps the file of the last sheet printed to a file.
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty();
    const QString outputFile =
        toFile ? QFileInfo(printer.outputFileName()).absoluteFilePath()
               : UserDefaults::standard().dictionaryForKey(kPrintSettingsKey).value(kOutputFileKey).toString();
    UserDefaults::standard().setObject(
        QVariantMap{{QStringLiteral("ImagesPerLine"), QString::number(m_state.mediaView->printImagesPerLine())},
                    {QStringLiteral("Style"), QString::number(m_state.mediaView->printStyle())},
                    {QStringLiteral("SelectionOnly"),
                     m_state.mediaView->printSelectionOnly() ? QStringLiteral("1") : QStringLiteral("0")},
                    {QStringLiteral("PageSize"), QString::number(int(paper.pageSize().id()))},
                    {QStringLiteral("Orientation"), paper.orientation() == QPageLayout::Landscape
                                                        ? QStringLiteral("Landscape")
                                                        : QStringLiteral("Portrait")},
                    {kOutputFileKey, outputFile},
                    {kToFileKey, toFile ? QStringLiteral("1") : QStringLiteral("0")}},
        kPrintSettingsKey);
}

void OVNAssetManager::setUpPrinter(QPrinter &printer) const
{
    // The paper chosen for the last sheet stays this window's paper.
    printer.setPageLayout(m_state.mediaView->printInfo());
    // The print panel proposes the file the last sheet went to, unless that sheet went on paper or
    // the file's folder is gone (the panel then proposes its own).
    const QVariantMap last = UserDefaults::standard().dictionaryForKey(kPrintSettingsKey);
    const QString file = UserDefaults::stringFromVariant(last.value(kOutputFileKey));
    if (UserDefaults::boolFromVariant(last.value(kToFileKey)) && !file.isEmpty()
        && QFileInfo(file).absoluteDir().exists())
        printer.setOutputFileName(file);
    applyPrintSettings(printer);
}

bool OVNAssetManager::canPrint() const { return m_state.mediaView && m_state.mediaView->count() > 0; }

QString OVNAssetManager::printStatusText(int imagesPerLine, int pages)
{
    return countedText(imagesPerLine, "%1 Image per Line", "%1 Images per Line")
           + countedText(pages, " (%1 page)", " (%1 pages)");
}

QString OVNAssetManager::viewPrintOptionsRecalc()
{
    if (m_printOptions) {
        m_state.mediaView->setPrintImagesPerLine(m_printOptions->imagesPerLine());
        m_state.mediaView->setPrintStyle(m_printOptions->style());
        m_state.mediaView->setPrintSelectionOnly(m_printOptions->selectionOnly());
    }
    const QString text = printStatusText(m_state.mediaView->printImagesPerLine(), m_state.mediaView->printPageCount());
    if (m_printOptions)
        m_printOptions->setStatus(text);
    return text;
}

bool OVNAssetManager::printContactSheet(QPrinter &printer)
{
    if (!canPrint())
        return false;
    MediaList records;
    for (int row : m_state.mediaView->printedRows())
        records.append(m_state.mediaView->objectForRow(row));
    QSet<QString> leftOut;
    if (!readableForOutput(records, &leftOut))
        return false;
    applyPrintSettings(printer);
    m_state.mediaView->setPrintLeftOut(leftOut);
    const bool printed = m_state.mediaView->printContactSheet(printer);
    m_state.mediaView->setPrintLeftOut({});
    if (!printed)
        return false;
    rememberPrintSettings(printer);
    return true;
}

void OVNAssetManager::printShowingPrintPanel()
{
    if (!canPrint())
        return;
    QPrinter printer(QPrinter::HighResolution);
    setUpPrinter(printer);
    m_state.mediaView->setPrintInfo(printer.pageLayout());

    QPrintDialog dialog(&printer, this);
    auto *options = new OVNPrintOptionsView(&dialog);
    options->setValues(m_state.mediaView->printImagesPerLine(), m_state.mediaView->printStyle(),
                       m_state.mediaView->printSelectionOnly(), m_state.mediaView->numberOfSelectedRows() > 0);
    m_printOptions = options;
    connect(options, &OVNPrintOptionsView::optionsChanged, this, [this] { viewPrintOptionsRecalc(); });
    viewPrintOptionsRecalc();
    dialog.setOptionTabs({options});
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (accepted)
        viewPrintOptionsRecalc();
    m_printOptions = nullptr;
    if (accepted)
        printContactSheet(printer);
}

bool OVNAssetManager::runPageLayout()
{
    if (!m_state.mediaView)
        return false;
    QPrinter printer(QPrinter::HighResolution);
    setUpPrinter(printer);
    // Run as the print panel runs: only a run to its end hands the panel's choice to the printer.
    QPageSetupDialog panel(&printer, this);
    if (panel.exec() != QDialog::Accepted)
        return false;
    m_state.mediaView->setPrintInfo(printer.pageLayout());
    return true;
}
