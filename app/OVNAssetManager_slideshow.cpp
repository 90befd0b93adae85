// The catalog window's play action: the shown entries of the selected category as a slide show.
#include "app/OVNAssetManager.h"

#include "browser/OVNMediaView.h"
#include "formats/OVNHelper.h"
#include "viewers/OVNSlideShow.h"

void OVNAssetManager::buttonPlayClick()
{
    // The selected entries in selection order, or every entry shown when none is selected; only
    // with exactly one category selected. An empty list gets the show's own alert.
    QList<OVNSlideShow::Slide> slides;
    if (m_state.mediaView && selectedCategoryNodes().size() == 1) {
        QList<int> rows = m_state.mediaView->selectedRows();
        if (rows.isEmpty()) {
            for (int row = 0; row < m_state.mediaView->count(); ++row)
                rows.append(row);
        }
        MediaList records;
        for (int row : rows) {
            if (const MediaRecordRef record = m_state.mediaView->objectForRow(row))
                records.append(record);
        }
        // The show puts each picture on the whole screen: only entries the user may still read,
        // asked now. Those left out are named in one alert; when none may be shown, no show starts.
        if (!records.isEmpty()) {
            const std::optional<MediaList> readable = readableForOutput(records);
            if (!readable)
                return;
            records = *readable;
        }
        for (const MediaRecordRef &record : std::as_const(records)) {
            const QString &stored = record->field(MediaRecord::AbsolutePath);
            // A file of the media server may be in the folder its share is mounted on.
            const QString found = stored.isEmpty() ? QString() : OVNHelper::existingFilePath(stored);
            slides.append({found.isEmpty() ? stored : found, record->field(MediaRecord::Orientation).toInt()});
        }
    }
    auto *show = new OVNSlideShow; // deletes itself when it ends
    show->setSlides(slides);
    show->startSlideShow();
}
