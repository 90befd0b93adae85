#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QString>

#include <memory>

class OVNBGView;
class OVNCategoryTreeModel;
class OVNDatabaseAccess;
class OVNMediaDetails;
class OVNMediaPreviewImage;
class OVNMediaView;
class OVNOutlineView;
class OVNPopUpButtonFooter;
class OVNSplitView;
class QSlider;
class QThread;
class QToolButton;

// What a catalog window shares with its presentation classes (commands, media delegate, category
// actions): its connection, the widgets they act on, the view options and preferences they read
// and set. The window owns it and hands each of them a reference at construction; what one of
// them alone uses it keeps itself, and what the window alone uses stays in the window.
struct OVNCatalogWindowState {
    std::shared_ptr<OVNDatabaseAccess> dbcon;

    // the category tree
    OVNOutlineView *categoryList = nullptr;
    OVNCategoryTreeModel *categoryModel = nullptr;
    QHash<QString, QImage> outlineIcons; // by kind and size, read once each

    // the panes and the footer
    OVNSplitView *splitterMedia = nullptr;
    OVNSplitView *splitterPreview = nullptr;
    OVNMediaView *mediaView = nullptr;
    OVNMediaPreviewImage *mediaPreviewImage = nullptr;
    OVNMediaDetails *mediaDetails = nullptr;
    OVNBGView *topviewsurveillance = nullptr;
    QSlider *thumbsizeSlider = nullptr;
    OVNPopUpButtonFooter *footerButtonAction = nullptr;
    QToolButton *previewToggleButton = nullptr;
    QList<int> savedMediaSizes; // the pane widths while the right pane is collapsed

    // the filter field
    int viewSearchFilterSelected = 0;
    QString searchText;

    // imports and the deletion or re-scan worker
    bool trackImportDidFinish = false;
    bool maintenanceRunning = false;
    QPointer<QThread> maintenanceThread;

    // preferences and view options
    int prefThumbnailSize = 0;
    int prefThumbnailType = 0;
    int prefDefaultViewerType1 = 0;
    int prefDefaultViewerType2 = 0;
    QString prefExternalViewer1;
    QString prefExternalViewer2;
    bool viewDatabaseShowThumbnails = false;
    bool viewLightTableShowThumbnails = false;
    bool viewLightTableShowRecursive = false;
    bool viewShowCountOnLightTables = false;
    bool viewShowCountOnFilmRolls = false;
    bool viewShowCountOnImageSets = false;
    bool viewShowCountOnSurveillanceFolders = false;
    bool usesSmallIcons = false;
    int viewOrderBy = 0;
    bool viewOrderASC = true;
};
