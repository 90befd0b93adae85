#include "app/OVNExpressOpening.h"

#include "app/OVNDocumentController.h"
#include "app/OVNOutputHandOff.h"
#include "app/OVNViewerDocuments.h"

std::optional<MediaList> OVNExpressOpening::readableNow(OVNDatabaseAccess *db, const MediaList &records,
                                                        QWidget *window)
{
    return OVNOutputHandOff::readableSaid(db, records, window);
}

std::function<bool()> OVNExpressOpening::handOnCheck(const MediaRecord &record)
{
    OVNExpressPanel *panel = &m_panel;
    OVNDatabaseAccess *db = panel->databaseConnection();
    // Asked over the panel's connection as it is at that moment: the panel may have been given
    // another since the viewer opened, and the one it had then may be gone.
    const OVNOutputCheck::Question question = OVNOutputHandOff::checkAtOutput(
        panel,
        [panel](const MediaList &records) {
            return OVNOutputHandOff::readableSaid(panel->databaseConnection(), records, panel);
        },
        OVNOutputHandOff::catalogHasUsers(db));
    return OVNOutputHandOff::checkForRecord(question, record);
}

void OVNExpressOpening::openInViewer(const MediaRecord &record)
{
    const QString &path = record.field(MediaRecord::AbsolutePath);
    const bool opened = OVNDocumentController::openFile(
        path, record.field(MediaRecord::VolumeName), record.field(MediaRecord::Orientation).toInt(),
        m_controller.viewerDocuments(), OVNDocumentController::OpenMode::Window, handOnCheck(record));
    if (opened)
        m_controller.noteNewRecentDocument(path);
}

void OVNExpressOpening::openFullScreen(const MediaRecord &record)
{
    // Only a movie goes to full screen; anything else opens as it would (without turning).
    OVNDocumentController::openFile(record.field(MediaRecord::AbsolutePath), record.field(MediaRecord::VolumeName), 0,
                                    OVNViewerDocuments::shared(), OVNDocumentController::OpenMode::FullScreen,
                                    handOnCheck(record));
}

void OVNExpressOpening::openWithCreator(const MediaRecord &record)
{
    OVNDocumentController::openWithDesktop(record.field(MediaRecord::AbsolutePath),
                                           record.field(MediaRecord::VolumeName), QString());
}

void OVNExpressOpening::openWithApplication(const MediaRecord &record, const QString &application)
{
    OVNDocumentController::openWithDesktop(record.field(MediaRecord::AbsolutePath),
                                           record.field(MediaRecord::VolumeName), application);
}
