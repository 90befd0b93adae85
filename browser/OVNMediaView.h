#pragma once

#include "browser/OVNCellFields.h"
#include "browser/OVNContactSheetLayout.h"
#include "browser/OVNMediaPasteboard.h"
#include "browser/OVNMediaViewDelegate.h"
#include "browser/OVNMediaViewGeometry.h"
#include "browser/OVNThumbnailCache.h"
#include "platform/MediaRecord.h"
#include "platform/Workspace.h"
#include "uikit/NTTextAttributes.h"

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QCache>
#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QMap>
#include <QMutex>
#include <QPageLayout>
#include <QRectF>
#include <QSet>
#include <QVariantMap>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

class OVNExtensionMapping;
class QPagedPaintDevice;
class OVNThumbnailRenderer;
class QMenu;
class QMimeData;

using MediaListRef = std::shared_ptr<MediaList>;

// The thumbnail browser every media list goes through: the owner hands it a list of shared
// records; the view keeps that very list, derives the visible list from it (filtered, sorted, less
// the hidden members of collapsed stacks), lays it out as a grid of cells, keeps the selection and
// asks its delegate for thumbnails and for every action. It never touches the catalog.
//
// The view is a scroll area over a virtual document (the design's frame): only the cells that are
// exposed are painted and asked for, however many items the list holds. Geometry is in document
// coordinates with y growing downward and row 0 at the top.
//
// Threads: everything runs on the GUI thread, except setMediaContainer(), which a worker may call
// (a folder re-scan reloads its list when it ends). Thumbnails are preloaded on the thread that
// sets the container, under the scan lock (the whole pass) and the draw lock (each record).
class OVNMediaView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // A stack of items that collapse behind one keyframe.
    struct StackRecord {
        QString title;           // "Group %d"
        int state = 0;           // 0 expanded, 1 collapsed
        int collapseditems = 0;  // hidden members while collapsed
        MediaList itemcontainer; // the hidden members, only while collapsed
    };

    // The text attribute sets the cells, the film roll, the list style, the express panel's style
    // and printing draw with. The film-roll title also casts a shadow (offset 2, 2 down-right in
    // Qt coordinates, blur 2, dark grey).
    struct TextAttributeSets {
        NTTextAttributes centeredTag;        // Helvetica bold 11, black, centred
        NTTextAttributes centeredWhiteTag;   // Helvetica bold 11, white, centred
        NTTextAttributes leftTag;            // Helvetica bold 11, black, left
        NTTextAttributes printTag;           // Helvetica bold 9, black, centred
        NTTextAttributes rollTag;            // Lucida Grande 11, white, left, shadowed
        NTTextAttributes timeTag;            // Helvetica bold 10, white, right
        NTTextAttributes infoTag;            // Helvetica bold 10, white, left
        NTTextAttributes lineTag;            // Helvetica bold 10, black, right
        NTTextAttributes lineInfo;           // Helvetica 10, black, left
        NTTextAttributes expressLeftTag;     // Helvetica bold 9, black, left
        NTTextAttributes expressCenteredTag; // Helvetica bold 9, black, centred
        NTTextAttributes expressTimeTag;     // Helvetica bold 9, white, right
        NTTextAttributes expressInfoTag;     // Helvetica bold 9, white, left
    };
    static TextAttributeSets makeTextAttributeSets();

    explicit OVNMediaView(QWidget *parent = nullptr);
    ~OVNMediaView() override;

    // ---- configuration ----
    // How the records are laid out: a grid, or a film roll (cells 130 x 140, spacing 3).
    enum DisplayType : int { GridDisplay = 0, FilmRollDisplay = 1 };
    // The thumbnail styles, by the numbers the "ThumbnailStyle" preference and the menu tags use:
    // the layout list's four cell styles, and the express search's compact cells.
    enum ThumbnailStyle : int {
        ContactSheetStyle = 0,
        LargeImagesStyle = 1,
        DetailedCellsStyle = 2,
        ListStyle = 3,
        CompactStyle = 4,
    };
    void setDisplayType(int type);
    int displayType() const { return m_displaytype; }
    // 0, 1, 2 give no, low and high interpolation; other values change nothing.
    void setThumbnailQuality(int quality);
    int thumbnailQuality() const { return m_thumbnailQuality; }
    // Width and height become the value; style 3 (list) adds 300 to the width.
    void setThumbnailWidth(int width);
    void setThumbnailStyle(int style);
    int thumbnailStyle() const { return m_thumbnailStyle; }
    float thumbnailWidth() const { return m_thumbnailWidth; }
    float thumbnailHeight() const { return m_thumbnailHeight; }
    float thumbnailDistance() const { return m_thumbnailDistance; }
    // Stored only; the owner then calls sortMediaContainer().
    void setSortOrder(int code) { m_viewOrderBy = code; }
    void setSortAscending(bool ascending) { m_viewOrderASC = ascending; }
    int sortOrder() const { return m_viewOrderBy; }
    bool sortAscending() const { return m_viewOrderASC; }
    // Preloading follows the "AssetBackgroundLoader" preference; kept for the owners that set it.
    void setUseBackgroundLoader(bool) {}
    void setShowEmptySetMessage(bool show) { m_showemptysetmessage = show; }
    bool showEmptySetMessage() const { return m_showemptysetmessage; }
    // What an empty list says ("Empty Imageset" when none is given); lines apart by "\n".
    void setEmptySetMessage(const QString &text) { m_emptysetmessage = text; }
    QString emptySetMessage() const;
    void setBackgroundColor(const QColor &color) { m_backgroundcolor = color; }
    QColor backgroundColor() const { return m_backgroundcolor; }
    QColor selectionColor() const { return m_selectioncolor; }
    // Not owned; the view reads the delegate's capabilities for the four frequent messages now.
    void setDelegate(OVNMediaViewDelegate *delegate);
    OVNMediaViewDelegate *delegate() const { return m_delegate; }
    // Replaces the cell renderer (told the cell size and the current style's layout at once).
    void setThumbnailRenderer(std::unique_ptr<OVNThumbnailRenderer> renderer);
    OVNThumbnailRenderer *thumbnailRenderer() const { return m_thumbCreator.get(); }
    QVariantList layoutSettings() const { return m_layoutSettings; }
    const TextAttributeSets &textAttributes() const { return m_textAttributes; }
    float thumbnailTitleHeight() const { return m_thumbnailTitleHeight; }
    float thumbnailTitleDistance() const { return m_thumbnailTitleDistance; }
    float thumbboarder() const { return m_thumbboarder; }
    OVNExtensionMapping *extensionMapper() const { return m_extensionMapper.get(); }
    int menuForEventType() const { return m_menuForEventType; }
    void setMenuForEventType(int type) { m_menuForEventType = type; }

    // ---- the container ----
    // Shows a list (shared with the owner: deleting an item removes it from the owner's list too);
    // null clears the view and stops a preload running on another thread. Answers false when a
    // preload on a worker thread was abandoned because the container was cleared or replaced
    // meanwhile: the list was then not shown, and the caller should stop.
    bool setMediaContainer(const MediaListRef &list);
    // The visible list.
    const MediaList &mediaContainer() const { return m_mediaContainer; }
    // All items of the shown container (null before the first and after clearing).
    MediaListRef unfilteredContainer() const { return m_unfilteredContainer; }
    bool hasMediaContainer() const { return m_hasVisibleList; }
    void setMediaContainerMID(const QString &mid) { m_currentmid = mid; }
    QString mediaContainerMID() const { return m_currentmid; }
    // A null string stores "C".
    void setMediaContainerType(const QString &type);
    QString mediaContainerType() const { return m_currentmediatype; }
    int count() const { return int(m_mediaContainer.size()); }

    // ---- rows of the visible list (a row outside it answers nothing and changes nothing) ----
    MediaRecordRef objectForRow(int row) const;
    QVariant mediaObject(const QString &key, int row) const;
    void setMediaObject(const QString &key, const QVariant &value, int row);
    void removeMediaObject(const QString &key, int row);
    QString mediaIDForRow(int row) const;
    QString entryMIDForRow(int row) const;
    QString filenameForRow(int row) const;
    int rowForFilename(const QString &path) const;
    int rowForMid(const QString &mid) const;
    QString midForFilename(const QString &path) const; // null when none
    // Removes the item from the visible list and from all items, so that no later filter brings
    // back an entry its owner deleted.
    void removeObjectAtIndex(int index);
    // Asks the delegate about each selected row, highest first, and removes the rows it deleted;
    // then clears the selection and tells the delegate. With autoReload the view is redrawn.
    // Answers whether anything was deleted (nothing without a delegate that deletes).
    bool deleteSelectedRowsWithAutoReload(bool autoReload);

    // ---- filter and sort ----
    // Rebuilds the visible list from all items: those whose lower-cased value for the key (any of
    // name, keywords and descriptions without a key) contains the filter; all of them for an empty
    // filter. Then sorts and lays out, and scrolls to the top.
    void setFilter(const QString &filter, const QString &key = QString());
    QString filter() const { return m_filter; }
    QString filterKey() const { return m_filterKey; }
    static bool tagContains(const QString &text, const QString &part);
    // Sorts the visible list by the sort code (stable); code 0 and unknown codes leave it alone.
    void sortMediaContainer();

    // ---- stacks ----
    int createGroupWithSelection();
    int createGroupWithItems(const QList<int> &rows);
    void createGroupsWithCurrentSorting();
    void ungroupSelection();
    int selectedGroup() const;
    bool isGroupCollapsed(int group) const;
    void collapseGroup(int group, int keyframeRow);
    void expandGroup(int group, int afterRow);
    void scrollGroupToVisible(int group);
    const StackRecord *stack(int group) const;

    // ---- thumbnails ----
    // The thumbnail of a visible row at its stored size (for the preview and the like), fetched
    // from the delegate when the record holds none; null when there is none. Cells draw pictures
    // kept at their own size instead. GUI thread only.
    QImage imageForRow(int row);
    // Puts new thumbnail data (say, the stored thumbnail turned) into the row's record in place of
    // what it held, so that the cell's picture is made from it, and redraws the cell.
    void replaceThumbnailForRow(int row, const QByteArray &data);
    // The film-roll cell image of a thumbnail, titled.
    QImage makeRollImage(const QImage &image, const QString &title) const;
    // One preload pass over all items, on the calling thread; see setMediaContainer().
    void scanForThumbnailsThread();
    // The bound of the fetched data and cell pictures the view keeps (256 MiB unless set); the
    // "AssetBackgroundLoaderMaxCache" preference bounds their number. Records whose entries go
    // lose the data the view fetched for them.
    void setThumbnailCacheMaxBytes(qint64 bytes);
    qint64 thumbnailCacheMaxBytes() const { return m_thumbnailCacheMaxBytes; }
    // What the view keeps now: bytes and records.
    qint64 thumbnailCacheBytes() const;
    qsizetype thumbnailCacheCount() const;

    // ---- layout ----
    // Sets the columns and rows for a frame; the film roll keeps every item in one row.
    virtual void recalcThumbnailLayout(const QSizeF &frame);
    void resizeFrameToFitMediaContainer();
    bool doesThumbnailLayoutNeedRecalcWithFrame(const QSizeF &viewport) const;
    int numberOfColumnsPerRow() const { return m_grid.columns; }
    int numberOfRows() const { return m_grid.rows; }
    // The document (the design's frame): its size, and the part the viewport shows.
    QSizeF documentSize() const { return m_frame; }
    QRectF visibleDocumentRect() const;
    // A row's cell in document coordinates.
    QRectF imageRect(int row) const;
    QRectF imageRectInViewport(int row) const;
    // The row whose cell holds a document point, -1 when none.
    int rowAtDocumentPoint(const QPointF &point) const;
    void setNeedsDisplayForRow(int row);
    void viewWillStartLiveResize();
    void viewDidEndLiveResize();
    bool inLiveResize() const { return m_inLiveResize; }

    // ---- selection (none of these tells the delegate) ----
    int numberOfSelectedRows() const { return int(m_selectedRows.size()); }
    // The row selected last; 0 when none.
    int selectedRow() const { return m_selectedRows.empty() ? 0 : m_selectedRows.back(); }
    // The selected rows in the order they were selected.
    QList<int> selectedRows() const;
    QList<int> allRows() const;
    bool isRowSelected(int row) const;
    void selectRow(int row);
    void deselectRow(int row);
    void deselectAll();
    void mvselectAll();
    void scrollRowToVisible(int row);
    // Selects the rows whose cells meet a document rectangle (the rubber band), in row order.
    void selectInRect(const QRectF &rect);
    // Selects a row, replacing the selection when deselectOthers; with updateDisplay redraws and
    // scrolls to it. Answers true.
    bool selectImage(int row, bool deselectOthers = true, bool updateDisplay = true);
    // Shift-extension: walks from the last selected row (0 when none) towards `row`, adding each
    // row on the way (the anchor itself is not added again). Answers whether a row was walked.
    bool extendSelectionToRow(int row);
    static QRectF getDragSelectionRectFrom(const QPointF &a, const QPointF &b);
    static QRectF getDisplaySelectionRectFrom(const QPointF &a, const QPointF &b, const QPointF &oldTo);

    // Sends ovnMediaViewSelectionDidChange when the delegate answers it.
    void notifySelectionDidChange();

    // ---- hit testing and selection by point (document coordinates) ----
    // The row whose cell holds the point, -1 when none.
    int rowAtLocation(const QPointF &point) const { return rowAtDocumentPoint(point); }
    // The stack whose marker (the gap left of a cell, widened by 2 on each side) holds the point;
    // -1 when none.
    int groupAtLocation(const QPointF &point) const;
    // The row whose marker area holds the point, grouped or not; -1 when none.
    int groupRowAtLocation(const QPointF &point) const;
    // A plain click (deselectOthers) or a command-click (toggles) at a point; a point outside every
    // cell clears the selection. Answers true.
    bool selectImageAtLocation(const QPointF &point, bool deselectOthers);
    // Deselects the selected row at the point; answers whether it did.
    bool deselectImageAtLocation(const QPointF &point);
    // The rubber band being dragged, in document coordinates; empty when none.
    bool isDraggingRubberBand() const { return m_isdragging; }
    QRectF rubberBandRect() const;

    // ---- drawing ----
    // The rating squares along the top edge of a rectangle (Qt coordinates) from its left end:
    // white, outlined in the selection blue, side ceil(height / 2), 1 apart; 0 to 5 of them.
    static void drawRatingMarker(QPainter &painter, int rating, const QRectF &rect);
    // One item's cell content at a cell rectangle (document coordinates): the renderer's cell for
    // styles 0 to 3, the view's own compact cell for style 4; with the selection frame when selected.
    void drawThumbnailInRect(QPainter &painter, const QRectF &cell, const QImage &image, const MediaRecord &record,
                             bool selected);
    // The texts and signs of a compact (style 4) cell at a cell rectangle for a picture of that
    // size, as they are drawn: each whole inside the cell, none over another.
    QList<OVNCellField> expressCellFields(const QRectF &cell, const QSize &picture, const MediaRecord &record) const;
    // The centred message box ("Empty Imageset", "Thumbnails too large!").
    void drawCenteredText(QPainter &painter, const QString &text);
    // How long one repaint may spend fetching and decoding thumbnails that are not cached yet; the
    // cells left over are drawn by the next repaint, which follows at once. 0 means no limit.
    void setThumbnailLoadBudgetMs(int milliseconds) { m_loadBudgetMs = milliseconds; }
    int thumbnailLoadBudgetMs() const { return m_loadBudgetMs; }
    // Whether the view is drawing its cells now: a thumbnail asked of the delegate then is for a
    // cell being drawn, which must not wait (a cell left blank is drawn again at the next update).
    bool isPainting() const { return m_painting; }
    // The tooltip at a point of the viewport: the whole of a text its cell shows cut short there,
    // else nothing.
    QString toolTipAt(const QPointF &viewportPoint);

    // ---- printing: a contact sheet with its own pagination, whatever the screen shows ----
    // The paper the pages are counted for (A4 portrait with 10-point margins until set) and the
    // print scaling (1 when not positive).
    void setPrintInfo(const QPageLayout &layout, double scale = 1);
    QPageLayout printInfo() const { return m_printInfo; }
    // Stored as given; the sheet's layout keeps them within bounds.
    void setPrintImagesPerLine(int count) { m_printImagesPerLine = count; }
    int printImagesPerLine() const { return m_printImagesPerLine; }
    void setPrintStyle(int style) { m_printImagesStyle = style; }
    int printStyle() const { return m_printImagesStyle; }
    void setPrintSelectionOnly(bool selectionOnly) { m_printSelectionOnly = selectionOnly; }
    bool printSelectionOnly() const { return m_printSelectionOnly; }
    // Entries (by id) that the sheet leaves out, whatever the other options say: those the user
    // may no longer see. Set by the owner just before it prints.
    void setPrintLeftOut(const QSet<QString> &mids) { m_printLeftOut = mids; }
    // The rows the sheet shows (all, or the selected ones in selection order) and their pages.
    QList<int> printedRows() const;
    OVNContactSheetLayout contactSheetLayout() const;
    // The number of pages; 0 for an empty sheet.
    int printPageCount() const { return contactSheetLayout().pages(); }
    // Draws one page of the sheet in the layout's coordinates (points of the scaled page): each
    // thumbnail as its own picture; a row whose thumbnail cannot be had leaves its cell blank.
    void drawContactSheetPage(QPainter &painter, const OVNContactSheetLayout &layout, const QList<int> &rows, int page);
    // Prints the sheet on the device's paper, one device page per sheet page. An empty sheet
    // starts no job and answers false, as does a device that cannot be painted on.
    bool printContactSheet(QPagedPaintDevice &device);

    // ---- clipboard, drops, drag-out (OVNMediaView_pasteboard.cpp) ----
    // The catalog the shown media belong to (OVNMediaPasteboard::catalogIdentity): media ids
    // dragged or copied from another catalog are taken for the files they name, never as entries.
    void setCatalogIdentity(const QByteArray &identity) { m_catalogIdentity = identity; }
    QByteArray catalogIdentity() const { return m_catalogIdentity; }
    // Copy: the selected files in selection order, with the media formats, on the clipboard;
    // answers how many files. Nothing changes without a selection. The entries of `leftOut` (ids)
    // are not copied.
    int filteredcopy(const QSet<QString> &leftOut = {});
    // Paste: the clipboard's files go to the delegate to be added.
    void filteredpaste();
    // What a drag of the selection from a row carries: the thumbnail and the file names as the
    // "DNDIncludeThumbnail" and "DNDIncludeFilename" preferences say, the media formats only
    // when the delegate grants "READ & WRITE" on every dragged entry. Entries the delegate leaves
    // out of the drag are not in it (nor their thumbnail). Null when there is nothing.
    std::unique_ptr<QMimeData> dragContents(int row);
    // The answer for the drag over the view, none outside a drag.
    OVNMediaPasteboard::Operation currentDragOperation() const { return m_currentDragOperation; }
    // The category a drop goes into, with the delegate's answer whether the user may change it.
    OVNMediaPasteboard::Target dropTarget();
    // Carries out a drop; false when it was refused.
    bool performDrop(const OVNMediaPasteboard::Payload &payload, OVNMediaPasteboard::Operation operation);

    // ---- the context menu (OVNMediaView_menu.cpp) ----
    // The menu at a document point, of the variant menuForEventType() names (0 full, 1 reduced,
    // 2 minimal); selects the item there first, alone, when it is not selected.
    std::unique_ptr<QMenu> menuForEvent(const QPointF &point);
    int launchRow() const { return m_launchrow; }
    const QList<Workspace::Application> &launchApplications() const { return m_launchapps; }
    // The menu's actions, on the selection or, without one, on the item the menu was opened on.
    void refresh();
    void revealInFinder();
    void reimportSelection();
    void relinkSelection();
    void openWithCreator();
    void openWithDefaultViewer();
    void launchExternalViewer(const Workspace::Application &application);

protected:
    // For layouts of their own (the film roll).
    void setGrid(const OVNMediaViewGeometry::Grid &grid) { m_grid = grid; }
    bool viewportEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // A cell the renderer drew, with what it was drawn from: the decoded picture and the record's
    // values a layout can show. A cell whose picture or values changed is drawn again.
    struct RenderedCell {
        qint64 pictureKey = 0;
        std::array<QString, 10> values;
        QImage image;
    };

    OVNMediaViewGeometry::CellMetrics metrics() const;
    void updateScrollBars();
    void readLayoutSettings();
    void applyRendererState();
    void installContainer(const MediaListRef &list);
    void startPreloadIfWanted(const MediaListRef &list);
    bool preloadItems(const MediaListRef &list, int generation, qsizetype *index, qsizetype budget);
    void continuePreloadOnGuiThread(MediaListRef list, int generation, qsizetype index);
    QByteArray thumbnailDataFor(const MediaRecordRef &record);
    // The size a cell's picture is fitted into.
    QSize cellPictureBox() const;
    // A record's picture fitted to the cell, decoded (and fetched) when it is not kept.
    QImage cellPicture(const MediaRecordRef &record);
    // The cell picture of a record when it is at hand without asking the delegate or decoding.
    bool cachedCellPicture(const MediaRecordRef &record, QImage *image);
    // Applies the entry bound: the preference, but never less than two screens of cells, which
    // would fetch every cell again at each repaint.
    void applyThumbnailCacheLimits();
    QImage imageForDrawing(int row, qint64 budgetLeftMs, bool *deferred);
    // The renderer's cell for a record, drawn again only when something it shows changed. Cells
    // drawn at another size or style are dropped by invalidateRenderedCells().
    QImage renderedCell(const QImage &image, const MediaRecord &record);
    void invalidateRenderedCells();
    void drawStackMarker(QPainter &painter, const QRectF &cell, const MediaRecord &record);
    void drawExpressCell(QPainter &painter, const QRectF &cell, const QImage &image, const MediaRecord &record,
                         bool selected);
    // Where a compact cell's picture goes (document coordinates).
    QRectF expressPictureRect(const QRectF &cell, const QSize &picture) const;
    // A compact cell's rows of fields with the band each is drawn on (none for the name).
    struct ExpressRow {
        QRectF band;
        QColor fill;
        QList<OVNCellField> fields;
    };
    QList<ExpressRow> expressRows(const QRectF &cell, const QSize &picture, const MediaRecord &record) const;
    void mouseDown(QMouseEvent *event, int clickCount);
    QPointF documentPoint(const QPointF &viewportPoint) const;
    void thumbnailArrived();
    int cellsPerScreen() const;
    bool delegateAnswers(OVNMediaViewDelegate::Capability capability) const;
    void removeVisibleRow(int row);
    void startDrag(int row);
    void acceptDrag(QDragMoveEvent *event);
    OVNMediaPasteboard::Operation dragOperationNow(Qt::DropActions offered);
    QImage dragImage(const QImage &thumbnail) const;
    // The selected rows, or the row of the last context menu when none is selected.
    QList<int> actionRows() const;
    // actionRows() without the entries the delegate keeps back (HandOn); none when it refuses all.
    QList<int> rowsToHandOn();
    QStringList existingFilesOf(const QList<int> &rows) const;
    QSet<const MediaRecord *> hiddenStackMembers() const;

    // the lists
    MediaListRef m_unfilteredContainer;
    MediaList m_mediaContainer;
    bool m_hasVisibleList = false;
    QString m_filter;
    QString m_filterKey;
    // stacks
    QMap<int, StackRecord> m_groupContainer;
    int m_groupid = 0;
    // cells
    QVariantList m_layoutSettings;
    std::unique_ptr<OVNThumbnailRenderer> m_thumbCreator;
    float m_thumbnailWidth = 100;
    float m_thumbnailHeight = 140;
    float m_thumbnailTitleHeight = 15;
    float m_thumbnailTitleDistance = 5;
    float m_thumbnailDistance = 10;
    OVNMediaViewGeometry::Grid m_grid;
    QSizeF m_frame;
    int m_thumbnailQuality = 1;
    int m_thumbnailStyle = 0;
    int m_displaytype = 0;
    float m_thumbboarder = 4.0f;
    bool m_inLiveResize = false;
    bool m_painting = false;
    // selection, in selection order, and a membership mask by row
    std::vector<int> m_selectedRows;
    std::vector<char> m_selectedMask;
    // the shown category
    QString m_currentmid;
    QString m_currentmediatype;
    // delegate and its cached answers
    OVNMediaViewDelegate *m_delegate = nullptr;
    bool m_delegateRespondsToThumbSelector = false;
    bool m_delegateRespondsToSelectionDidChangeSelector = false;
    bool m_delegateRespondsToDoubleClickSelector = false;
    bool m_delegateRespondsToUserAuthSelector = false;
    // preloading
    std::atomic<int> m_scanThreadID{0};
    QMutex m_scanlock;
    mutable QMutex m_drawlock;
    std::atomic<bool> m_thumbnailUpdatePending{false};
    OVNThumbnailCache m_thumbnails; // under the draw lock
    qint64 m_thumbnailCacheMaxBytes = OVNThumbnailCache::defaultMaxBytes;
    std::atomic<qsizetype> m_preferredCacheEntries{1500};
    QCache<const MediaRecord *, RenderedCell> m_renderedCells; // cost in KiB
    // appearance and the rest of the design's state
    QColor m_backgroundcolor = Qt::white;
    QColor m_selectioncolor;
    int m_viewOrderBy = 0;
    bool m_viewOrderASC = true;
    bool m_showemptysetmessage = false;
    QString m_emptysetmessage;
    int m_menuForEventType = 0;
    // mouse
    QPointF m_lastclickloc;
    QPointF m_lastdragloc;
    bool m_isdragging = false;
    int m_loadBudgetMs = 25;
    // clipboard, drops, context menu
    QByteArray m_catalogIdentity;
    OVNMediaPasteboard::Payload m_dragPayload;
    OVNMediaPasteboard::Operation m_currentDragOperation = OVNMediaPasteboard::Operation::None;
    // The drop rules' answer for the drag, decided as it entered; files need the delegate's word
    // as well, asked again after this interval while the drag moves.
    OVNMediaPasteboard::Operation m_dragRuleOperation = OVNMediaPasteboard::Operation::None;
    static constexpr qint64 dragFilesAskedIntervalMs = 1000;
    QElapsedTimer m_dragFilesAsked;
    bool m_dragFilesTaken = false;
    int m_launchrow = 0;
    QList<Workspace::Application> m_launchapps;
    TextAttributeSets m_textAttributes;
    std::unique_ptr<OVNExtensionMapping> m_extensionMapper;
    // printing
    QPageLayout m_printInfo{QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10),
                            QPageLayout::Point};
    double m_printScale = 1;
    int m_printImagesPerLine = 6;
    int m_printImagesStyle = 0;
    bool m_printSelectionOnly = false;
    QSet<QString> m_printLeftOut;
};
