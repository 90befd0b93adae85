// Contact-sheet printing: the print panel with the sheet's options, and the print itself, which
// the thumbnail view paginates and draws.
#include "app/OVNAssetManager.h"

#include "app/OVNPrintOptionsView.h"
#include "browser/OVNMediaView.h"
#include "platform/Localized.h"

#include <QPrintDialog>
#include <QPrinter>

namespace {
void applyPrintSettings(QPrinter &printer)
{
    printer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Point);
}
} // namespace

bool OVNAssetManager::canPrint() const
{
    return m_mediaView && m_mediaView->count() > 0;
}

QString OVNAssetManager::printStatusText(int imagesPerLine, int pages)
{
    return countedText(imagesPerLine, "%1 Image per Line", "%1 Images per Line")
        + countedText(pages, " (%1 page)", " (%1 pages)");
}

QString OVNAssetManager::viewPrintOptionsRecalc()
{
    if (m_printOptions) {
        m_mediaView->setPrintImagesPerLine(m_printOptions->imagesPerLine());
        m_mediaView->setPrintStyle(m_printOptions->style());
        m_mediaView->setPrintSelectionOnly(m_printOptions->selectionOnly());
    }
    const QString text = printStatusText(m_mediaView->printImagesPerLine(), m_mediaView->printPageCount());
    if (m_printOptions)
        m_printOptions->setStatus(text);
    return text;
}

bool OVNAssetManager::printContactSheet(QPrinter &printer)
{
    if (!canPrint())
        return false;
    applyPrintSettings(printer);
    return m_mediaView->printContactSheet(printer);
}

void OVNAssetManager::printShowingPrintPanel()
{
    if (!canPrint())
        return;
    QPrinter printer(QPrinter::HighResolution);
    // The paper chosen for the last sheet stays this window's paper.
    printer.setPageLayout(m_mediaView->printInfo());
    applyPrintSettings(printer);
    m_mediaView->setPrintInfo(printer.pageLayout());

    QPrintDialog dialog(&printer, this);
    auto *options = new OVNPrintOptionsView(&dialog);
    options->setValues(m_mediaView->printImagesPerLine(), m_mediaView->printStyle(),
                       m_mediaView->printSelectionOnly(), m_mediaView->numberOfSelectedRows() > 0);
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
