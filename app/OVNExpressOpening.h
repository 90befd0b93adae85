#pragma once

#include "search/OVNExpressPanel.h"

#include <functional>

class OVNDocumentController;

// The express panel's roads for opening files: the application controller's viewers (with the
// recent files), a movie at once in full screen, the desktop's default or a chosen application.
// Each asks the read rule the output roads ask (OVNOutputHandOff) through the panel's own
// connection, and a viewer it opens asks it again whenever it hands the entry on.
class OVNExpressOpening : public OVNExpressPanel::Opening
{
public:
    OVNExpressOpening(OVNDocumentController &controller, OVNExpressPanel &panel)
        : m_controller(controller),
          m_panel(panel)
    {}

    std::optional<MediaList> readableNow(OVNDatabaseAccess *db, const MediaList &records, QWidget *window) override;
    void openInViewer(const MediaRecord &record) override;
    void openFullScreen(const MediaRecord &record) override;
    void openWithCreator(const MediaRecord &record) override;
    void openWithApplication(const MediaRecord &record, const QString &application) override;

private:
    // What a viewer opened for `record` asks before it hands the entry on.
    std::function<bool()> handOnCheck(const MediaRecord &record);

    OVNDocumentController &m_controller;
    OVNExpressPanel &m_panel;
};
