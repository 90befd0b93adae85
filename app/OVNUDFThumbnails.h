#pragma once

#include <QWidget>

// The thumbnail layout editor's window. The editor itself (cell styles and their fields) is not
// here yet; the window only opens and closes.
class OVNUDFThumbnails : public QWidget
{
    Q_OBJECT
public:
    OVNUDFThumbnails();
    ~OVNUDFThumbnails() override;

    void makeKeyAndOrderFront();
    void orderOut();
};
