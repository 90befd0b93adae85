// Contact-sheet printing: the print panel with the sheet's options, and the print itself, which
// the thumbnail view paginates and draws.
#include "app/OVNAssetManager.h"

#include "app/OVNPrintOptionsView.h"
#include "app/OVNPrintSettings.h"
#include "browser/OVNMediaView.h"
#include "platform/UserDefaults.h"

#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

void OVNAssetManager::restorePrintSettings()
{
    const std::optional<OVNPrintSettings> last = OVNPrintSettings::stored(UserDefaults::standard());
    if (!last || !m_state.mediaView)
        return;
    if (last->imagesPerLine)
        m_state.mediaView->setPrintImagesPerLine(*last->imagesPerLine);
    if (last->style)
        m_state.mediaView->setPrintStyle(*last->style);
    m_state.mediaView->setPrintSelectionOnly(last->selectionOnly);
    m_state.mediaView->setPrintInfo(last->appliedTo(m_state.mediaView->printInfo()));
}

void OVNAssetManager::setUpPrinter(QPrinter &printer) const
{
    // The paper chosen for the last sheet stays this window's paper.
    printer.setPageLayout(m_state.mediaView->printInfo());
    const QString file = OVNPrintSettings::proposedOutputFile(UserDefaults::standard());
    if (!file.isEmpty())
        printer.setOutputFileName(file);
    OVNPrintSettings::applyMargins(printer);
}

bool OVNAssetManager::canPrint() const { return m_state.mediaView && m_state.mediaView->count() > 0; }

QString OVNAssetManager::viewPrintOptionsRecalc()
{
    if (m_printOptions) {
        m_state.mediaView->setPrintImagesPerLine(m_printOptions->imagesPerLine());
        m_state.mediaView->setPrintStyle(m_printOptions->style());
        m_state.mediaView->setPrintSelectionOnly(m_printOptions->selectionOnly());
    }
    const QString text =
        OVNPrintSettings::statusText(m_state.mediaView->printImagesPerLine(), m_state.mediaView->printPageCount());
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
    OVNPrintSettings::applyMargins(printer);
    m_state.mediaView->setPrintLeftOut(leftOut);
    const bool printed = m_state.mediaView->printContactSheet(printer);
    m_state.mediaView->setPrintLeftOut({});
    if (!printed)
        return false;
    OVNPrintSettings::remember(UserDefaults::standard(), printer, m_state.mediaView->printImagesPerLine(),
                               m_state.mediaView->printStyle(), m_state.mediaView->printSelectionOnly());
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
