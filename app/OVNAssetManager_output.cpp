// The catalog window's output actions (e-mail, export, web gallery, disc) and the stack actions.

#include "app/OVNAssetManager.h"

#include "browser/OVNMediaView.h"
#include "platform/Alert.h"
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
    if (!readable || (readable->isEmpty() && !records.isEmpty()))
        return std::nullopt;
    const QList<CategoryNode> categories = selectedCategoryNodes();
    const QString pageTitle = categories.size() == 1 ? categories.first().value(QStringLiteral("displaytag")).toString()
                                                     : QString();
    std::optional<OutputHandOff> handOff = OutputHandOff::gather(*readable, pageTitle);
    if (!handOff) {
        Alerts::display(localized("Media file not found."),
                        localized("At least one media file could not be located. Please check the media file "
                                  "path for the selected files and make sure the original files are available."),
                        m_state.mediaView->window());
    }
    return handOff;
}

std::optional<MediaList> OVNAssetManager::readableForOutput(const MediaList &records, QSet<QString> *leftOut)
{
    OVNOutputHandOff::Readable readable = OVNOutputHandOff::readableNow(m_state.dbcon.get(), records);
    if (readable.refusal) {
        showCategoryRefusal(*readable.refusal);
        return std::nullopt;
    }
    if (!readable.leftOutNames.isEmpty())
        showCategoryRefusal(OVNOutputHandOff::leftOutAlert(readable.leftOutNames));
    if (leftOut)
        *leftOut = readable.leftOutMids;
    return readable.records;
}

void OVNAssetManager::buttonExportImagesClick()
{
    const std::optional<OutputHandOff> handOff = outputHandOff();
    if (!handOff)
        return;
    auto *sheet = new OVNExportImagesSheet(m_state.mediaView->window());
    sheet->setFiles(handOff->records);
    sheet->beginSheetModalForWindow(m_state.mediaView->window());
}

void OVNAssetManager::buttonSendAsEmailClick()
{
    const std::optional<OutputHandOff> handOff = outputHandOff();
    if (!handOff || handOff->records.isEmpty())
        return;
    auto *sheet = new OVNSendImagesAsMailSheet(m_state.mediaView->window());
    sheet->setFiles(handOff->records);
    sheet->beginSheetModalForWindow(m_state.mediaView->window());
}

void OVNAssetManager::buttonPublishToWebClick()
{
    const std::optional<OutputHandOff> handOff = outputHandOff();
    if (!handOff || handOff->records.isEmpty())
        return;
    auto *sheet = new OVNPublishToWebSheet(m_state.mediaView->window());
    sheet->setFiles(handOff->records);
    if (!handOff->pageTitle.isEmpty())
        sheet->setPageTitle(handOff->pageTitle);
    sheet->publish(m_state.mediaView->window());
}

void OVNAssetManager::buttonBurnCDClick()
{
    const std::optional<OutputHandOff> handOff = outputHandOff();
    if (!handOff || handOff->records.isEmpty())
        return;
    QStringList paths;
    for (const MediaRecord &record : handOff->records)
        paths.append(record.field(MediaRecord::AbsolutePath));
    auto *sheet = new OVNDiscBurnerSheet(m_state.mediaView->window());
    sheet->setFiles(paths);
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
