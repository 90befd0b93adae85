#pragma once

#include "formats/OVNOrientation.h"
#include "viewers/OVNImageLoader.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <functional>

class OVNImageView;
class QAction;
class QScrollArea;

// The program's window for one still picture: an ordinary image, a camera RAW file decoded in the
// program or one decoded by dcraw. It opens at once with a loading tag and the picture follows
// from the background loader, turned as the catalogued orientation says (a file the catalog does
// not hold, as its own metadata says). Read-only: nothing is
// ever saved. The window deletes itself when closed.
class OVNImageViewer : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr const char *toolbarIdentifier = "OVNImageViewer Toolbar Identifier 1.3.2";
    // The toolbar's items in order; an empty name is a separator.
    static QStringList toolbarItemIdentifiers();

    explicit OVNImageViewer(QWidget *parent = nullptr);
    ~OVNImageViewer() override;

    // The start rotation from the EXIF orientation code (mirrored codes also flip the picture);
    // OVNOrientation::codeFromFile reads the code from the file as it loads.
    void setOnLoadOrientation(int code);
    // The start rotation in degrees, unchanged.
    void setOnLoadRotation(int degrees);
    int onLoadRotation() const { return m_turn.degrees; }
    // The processor code to load with; by default the file-type table's for the file.
    void setProcessor(const QString &processor) { m_processor = processor; }
    // Shows the window with the loading tag and starts the loader.
    void loadAndShowFile(const QString &path);
    QString path() const { return m_path; }
    int shrinkFactor() const { return m_shrinkFactor; }
    OVNImageView *imageView() const { return m_view; }
    OVNImageLoader *loader() const { return m_loader; }
    QAction *toolbarAction(const QString &identifier) const;
    // The image as shown is whole (the last load finished); false while loading or failed.
    bool isLoaded() const { return m_loaded; }

    void menuRotateLeft();
    void menuRotateRight();
    void menuActualSize();
    void menuZoomToFit();
    void menuZoomIn();
    void menuZoomOut();
    void menuFullResolution();
    // Opens an adjustment window on the picture as shown, turned as shown; it asks the check (a
    // catalog's read rule for the entry shown) at each export.
    void menuAdjust();
    // Shows the file in the file manager when the check allows it; the window's context menu offers it.
    void buttonRevealInFinderClick();
    // The catalog's read rule for the entry shown, asked whenever the window hands it on: at each
    // export of an adjustment window it opened, and before revealing the file.
    void setHandOnCheck(std::function<bool()> check) { m_handOnCheck = std::move(check); }
    // Sizes the image view and the scroll bars for the zoom, the picture and the window.
    void refreshView();

signals:
    // A picture was painted: a reduced one first (preview) or the whole one.
    void pictureShown(bool preview);
    // The load failed, for `problem` (OVNImageLoader::Result::problem); the failure sheet saying
    // it follows and then the window closes.
    void loadFailed(const QString &problem);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void startLoad();
    void loaded(const OVNImageLoader::Result &result);
    void validateToolbar();

    OVNImageView *m_view = nullptr;
    QScrollArea *m_scroller = nullptr;
    OVNImageLoader *m_loader = nullptr;
    QList<QAction *> m_actions;
    OVNOrientation::Turn m_turn;
    std::function<bool()> m_handOnCheck;
    bool m_turnFromFile = false; // m_turn comes with the first picture loaded
    QString m_path;
    QString m_processor;
    int m_shrinkFactor = 0;
    bool m_loaded = false;
    bool m_failed = false;
};
