// The catalog window's output actions (e-mail, export, web gallery, disc) and the stack actions.

#include "app/OVNAssetManager.h"

#include "browser/OVNMediaView.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "output/OVNDiscBurnerSheet.h"
#include "output/OVNOutputSheets.h"
#include "platform/Localized.h"

#include <QApplication>

std::optional<OVNAssetManager::OutputHandOff> OVNAssetManager::outputHandOff()
{
    const std::optional<QList<int>> rows = annotationRowSet();
    if (!rows) {
        QApplication::beep();
        return std::nullopt;
    }
    MediaList records;
    for (int row : *rows)
        records.append(m_state.mediaView->objectForRow(row));
    const std::optional<MediaList> readable = readableForOutput(records);
    if (!readable)
        return std::nullopt;
    const QList<CategoryNode> categories = selectedCategoryNodes();
    const QString pageTitle = categories.size() == 1 ? categories.first().value(QStringLiteral("displaytag")).toString()
                                                     : QString();
    std::optional<OutputHandOff> handOff = OutputHandOff::gather(*readable, pageTitle);
    if (handOff)
        handOff->check = OVNOutputCheck(outputCheck());
    else
        OVNOutputHandOff::showMissingFiles(m_state.mediaView->window());
    return handOff;
}

std::optional<MediaList> OVNAssetManager::readableForOutput(const MediaList &records, QSet<QString> *leftOut)
{
    QObject *on = m_state.mediaView ? m_state.mediaView->window() : this;
    // Asked again on a new session through sessions that end, within the command's 30 seconds:
    // a privilege that could not be read is said only when they are over.
    OVNOutputHandOff::Readable readable;
    if (m_state.dbcon) {
        const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
        OVNCatalogOpening::retried(
            *m_state.dbcon, [&] { readable = OVNOutputHandOff::readableNow(m_state.dbcon.get(), records); },
            wait->status(), wait->secondsLeft());
    } else {
        readable = OVNOutputHandOff::readableNow(nullptr, records);
    }
    return OVNOutputHandOff::said(readable, records, on, leftOut);
}

OVNOutputCheck::Question OVNAssetManager::outputCheck()
{
    return OVNOutputHandOff::checkAtOutput(
        this, [this](const MediaList &records) { return readableForOutput(records); },
        OVNOutputHandOff::catalogHasUsers(m_state.dbcon.get()));
}

void OVNAssetManager::buttonExportImagesClick()
{
    const std::optional<OutputHandOff> handOff = outputHandOff();
    if (!handOff)
        return;
    auto *sheet = new OVNExportImagesSheet(m_state.mediaView->window());
    sheet->setFiles(handOff->records);
    sheet->setOutputCheck(handOff->check);
    sheet->beginSheetModalForWindow(m_state.mediaView->window());
}

void OVNAssetManager::buttonSendAsEmailClick()
{
    const std::optional<OutputHandOff> handOff = outputHandOff();
    if (!handOff || handOff->records.isEmpty())
        return;
    auto *sheet = new OVNSendImagesAsMailSheet(m_state.mediaView->window());
    sheet->setFiles(handOff->records);
    sheet->setOutputCheck(handOff->check);
    sheet->beginSheetModalForWindow(m_state.mediaView->window());
}

void OVNAssetManager::buttonPublishToWebClick()
{
    const std::optional<OutputHandOff> handOff = outputHandOff();
    if (!handOff || handOff->records.isEmpty())
        return;
    auto *sheet = new OVNPublishToWebSheet(m_state.mediaView->window());
    sheet->setFiles(handOff->records);
    sheet->setOutputCheck(handOff->check);
    if (!handOff->pageTitle.isEmpty())
        sheet->setPageTitle(handOff->pageTitle);
    sheet->publish(m_state.mediaView->window());
}

void OVNAssetManager::buttonBurnCDClick()
{
    const std::optional<OutputHandOff> handOff = outputHandOff();
    if (!handOff || handOff->records.isEmpty())
        return;
    auto *sheet = new OVNDiscBurnerSheet(m_state.mediaView->window());
    sheet->setRecords(handOff->records, handOff->check);
    sheet->setWindow(m_state.mediaView->window());
    sheet->burn();
}

void OVNAssetManager::buttonGroupClick()
{
    m_state.mediaView->createGroupWithSelection();
    m_state.mediaView->deselectAll();
    m_state.mediaView->notifySelectionDidChange();
    refreshActions();
}

void OVNAssetManager::buttonAutoGroupClick()
{
    const QString kept = statusText();
    setStatus(localized("Creating Groups..."), true);
    m_state.mediaView->createGroupsWithCurrentSorting();
    setStatus(kept, false);
    m_state.mediaView->viewport()->update();
    refreshActions();
}

void OVNAssetManager::buttonUngroupClick()
{
    m_state.mediaView->ungroupSelection();
    refreshActions();
}
