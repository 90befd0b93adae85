#pragma once

#include "search/OVNExpressPanel.h"

class OVNDocumentController;

// The express panel's roads for opening files: the application controller's viewers (with the
// recent files), a movie at once in full screen, the desktop's default or a chosen application.
class OVNExpressOpening : public OVNExpressPanel::Opening
{
public:
    explicit OVNExpressOpening(OVNDocumentController &controller) : m_controller(controller) {}

    void openInViewer(const QString &path, const QString &volume, int orientation) override;
    void openFullScreen(const QString &path, const QString &volume) override;
    void openWithCreator(const QString &path, const QString &volume) override;
    void openWithApplication(const QString &path, const QString &volume, const QString &application) override;

private:
    OVNDocumentController &m_controller;
};
