#pragma once

#include "browser/OVNMediaViewDelegate.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNOrientation.h"
#include "platform/MediaRecord.h"
#include "viewers/OVNFullScreenWindow.h"
#include "viewers/OVNImageLoader.h"

#include <QFlags>
#include <QMainWindow>
#include <QPointer>
#include <QRectF>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class MoviePlayer;
class OVNImageView;
class OVNLightTableStatus;
class OVNMediaRollView;
class OVNMediaView;
class OVNMovieView;
class QMenu;

// What the light table asks of the window that opened it (the catalog window): writes go through
// its privilege checks, and it reports a refused or failed write itself. Every call is optional:
// the delegate declares those it answers and only those are sent.
class OVNLightTableDelegate
{
public:
    enum Capability : unsigned {
        SetRating = 1u << 0,
        Rotate = 1u << 1,
        DoubleClick = 1u << 2,
        ThumbnailData = 1u << 3,
        Open = 1u << 4,
    };
    Q_DECLARE_FLAGS(Capabilities, Capability)
    enum class Turn { Left, Right };

    virtual ~OVNLightTableDelegate() = default;
    virtual Capabilities lightTableCapabilities() const = 0;
    // True when the catalog took the rating (0 to 5) of the entry.
    virtual bool lightTableSetRating(int rating, const QString &mid);
    // Turns the entry a quarter in the catalog and its thumbnail and orientation in `roll`; true
    // when the catalog took it.
    virtual bool lightTableRotate(const QString &mid, OVNMediaView *roll, Turn turn);
    virtual void lightTableDoubleClick(OVNMediaView *roll, Qt::KeyboardModifiers modifiers);
    // The entry's JPEG thumbnail; may come from the roll's preloading thread.
    virtual QByteArray lightTableThumbnailData(OVNMediaView *roll, const QString &mid);
    // Opens the roll's selected items: 0 in the program's viewers, 1 in the desktop's application,
    // 2 in the program's viewers with a movie playing in full screen.
    virtual void lightTableOpen(OVNMediaView *roll, int viewerType);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(OVNLightTableDelegate::Capabilities)

// A category's pictures and movies side by side: a film roll of its items above one, two or four
// panes, and the status strip below. Selecting an item loads it into the selected pane, as a
// picture (through the background loader, one generation per selection) or as a looping movie.
// Ratings and turns go to the delegate. A window without a file: it deletes itself when closed,
// and whoever opened it keeps no reference.
class OVNLightTable
    : public QMainWindow
    , public OVNMediaViewDelegate
    , public OVNFullScreenWindowDelegate
{
    Q_OBJECT

public:
    static constexpr int advanceIntervalMs = 2000;

    // ---- pure parts ----
    // The pane frames of a split style in the pane area's bounds, y up as designed: 1 one pane; 2
    // side by side; 3 one above the other; 4 two by two; the right column of 2 and 4 two points
    // narrower. No panes for any other style.
    static QList<QRectF> paneFrames(int style, const QRectF &bounds);
    // A y-up frame in the pane area's (y-down) coordinates.
    static QRectF toWidget(const QRectF &frame, double areaHeight);
    // The stored "LightTableSplitStyle": missing or 0 gives 2.
    static int splitStyleFromPreference(int stored);
    // The shrink factor for camera RAW files from "RAWOpenWithLightTable": 1 gives 0 (whole), else 2.
    static int shrinkFactorFromPreference(int stored);

    explicit OVNLightTable(QWidget *parent = nullptr);
    ~OVNLightTable() override;

    // ---- opening, in this order ----
    void setDelegate(OVNLightTableDelegate *delegate);
    // The items (their records shared with the caller), the category's kind (null stays null) and id.
    void setMediaContainer(const MediaList &list, const QString &type, const QString &mid);
    // The question asked each time an entry is shown in a pane or leaves through the roll (a drag
    // out, Reveal in File Manager, opening in another program): which of the records may go now,
    // in their order; nothing when none may. The rule says itself why anything is left out.
    // Without one, everything goes.
    using ReadRule = std::function<std::optional<QList<MediaRecord>>(const QList<MediaRecord> &records)>;
    void setReadRule(ReadRule rule) { m_readRule = std::move(rule); }
    void showLightTable();

    // ---- what is on show ----
    OVNMediaRollView *roll() const { return m_mediaroll; }
    OVNLightTableStatus *statusStrip() const { return m_mediastatus; }
    QWidget *paneArea() const { return m_mediazoomview; }
    QString mediaType() const { return m_mediatype; }
    QString mediaMid() const { return m_mediamid; }
    int splitStyle() const { return m_splitScreenType; }
    int paneCount() const { return int(m_panes.size()); }
    OVNImageView *imageView(int pane) const;
    OVNMovieView *movieView(int pane) const;
    // Whether pane i shows its movie view (else its image view).
    bool paneShowsMovie(int pane) const;
    // The selected pane, -1 when none.
    int selectedPane() const { return m_selectedPane; }
    void selectPane(int pane);
    bool isFullscreen() const { return m_isFullscreen; }
    bool isAdvancing() const { return m_slideshow; }
    bool isAdvanceTimerActive() const { return m_slideshowtimer.isActive(); }
    QString mediaPath() const { return m_mediapath; }
    int shrinkFactor() const { return m_onLoadShrinkFactor; }
    OVNImageLoader *loader() const { return m_loader; }
    // Whether a picture or movie load is under way.
    bool isLoading() const { return m_pending.active; }

    // ---- commands ----
    // A click on the status strip, at a point in its (y-up) coordinates.
    void statusStripClicked(const QPointF &point);
    void setSplitStyle(int style);
    void rotateSelectedPane(OVNLightTableDelegate::Turn turn);
    void toggleAdvance();
    void loadFullResolution();
    void gotoFullscreenMode();
    void exitFullscreenMode();
    // The automatic advance: the next item now; and the timer that brings it 2 s after an item is
    // on screen.
    void displayNextMediaFile();
    void triggerNextMediaFile();
    // Loads the roll's selection into the selected pane.
    void loadSelection();
    // Rates the roll's selected items (0 to 5).
    void rateSelection(int rating);
    // The Media menu: open the selection in the viewers (in full screen: exactly one item), reveal
    // it, rate it. Items are enabled, and the rating checked, for the selection at hand.
    QMenu *mediaMenu() const { return m_mediaMenu; }
    void validateMenus();

    // ---- the roll's delegate ----
    Capabilities capabilities() const override;
    QByteArray ovnMediaViewThumbnailData(OVNMediaView *view, const QString &mediaId) override;
    void ovnMediaViewSelectionDidChange(OVNMediaView *view) override;
    void ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *view, Qt::KeyboardModifiers modifiers) override;
    void ovnMediaViewEscape(OVNMediaView *view) override;
    void ovnMediaViewOpenWithDefaultViewer(OVNMediaView *view) override;
    void ovnMediaViewOpenWithCreator(OVNMediaView *view) override;
    void menuSetRating(int rating) override;
    std::optional<QSet<QString>> ovnMediaViewLeftOutOfHandOn(OVNMediaView *view, const QList<int> &rows) override;

    // ---- events of the window and of the full-screen window ----
    void ovnFullScreenWindowKeyDown(QKeyEvent *event) override;
    void ovnFullScreenWindowMouseDown(QMouseEvent *event) override;

signals:
    void panesBuilt(int count);
    // A picture was painted in a pane: a reduced one first (preview) or the whole one.
    void pictureShown(bool preview);
    // A whole picture or a movie is on screen.
    void itemLoaded(int row, const QString &mid, QSize size, int rotation);
    void itemFailed(int row, const QString &mid, const QString &reason);
    void advanced(int row);
    void rated(int row, const QString &mid, int rating);
    void turned(int row, const QString &mid, const QString &orientation);
    // The delegate refused or could not write; it has told the user.
    void writeFailed(const QString &what, const QString &mid);

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Pane i pairs an image view and a movie view; one of them is on show.
    struct Pane {
        Pane();
        Pane(Pane &&) noexcept;
        Pane &operator=(Pane &&) noexcept;
        ~Pane();
        std::unique_ptr<OVNImageView> image;
        std::unique_ptr<OVNMovieView> movie;
        std::unique_ptr<MoviePlayer> player;
        bool showsMovie = false;
    };
    // The load under way: what it is for, read on the GUI thread when it started.
    struct PendingLoad {
        bool active = false;
        quint64 generation = 0;
        int pane = -1;
        int row = -1;
        QString mid;
        OVNOrientation::Turn turn;
    };

    void initZoomView();
    void resizeSubviews();
    void releaseZoomViewAssets();
    void releaseAssetViews();
    void setSelectedMediaViewType(bool movie);
    void emptyPane(Pane &pane);
    void setSelectedRepresentedObject(const QVariantMap &object);
    QVariantMap representedObject(int pane) const;
    void startImageLoad();
    void imageLoaded(const OVNImageLoader::Result &result);
    void startMovie(const QString &path, const QString &type);
    void loadFinished(bool ok, QSize size, int rotation, const QString &reason);
    void refreshPanes();
    OVNLightTableDelegate *liveDelegate(OVNLightTableDelegate::Capability capability) const;
    // The ids of the roll's rows the read rule keeps back now; nothing when it lets none go.
    std::optional<QSet<QString>> leftOutOf(const QList<int> &rows);

    QWidget *m_content = nullptr;
    OVNMediaRollView *m_mediaroll = nullptr;
    QWidget *m_mediazoomview = nullptr;
    OVNLightTableStatus *m_mediastatus = nullptr;
    std::shared_ptr<MediaList> m_mediacontainer;
    QString m_mediatype;
    QString m_mediamid;
    int m_selectedPane = -1;
    OVNExtensionMapping m_extensionmap;
    QString m_mediapath;
    OVNLightTableDelegate *m_delegate = nullptr;
    ReadRule m_readRule;
    QPointer<QObject> m_delegateObject; // the delegate's lifetime, when it is a QObject
    bool m_delegateIsObject = false;
    bool m_isFullscreen = false;
    std::unique_ptr<OVNFullScreenWindow> m_mediaWindowFS;
    // After the full-screen window, which may hold the pane area: the panes go first.
    std::vector<Pane> m_panes;
    QTimer m_slideshowtimer;
    QMenu *m_mediaMenu = nullptr;
    bool m_slideshow = false;
    int m_onLoadShrinkFactor = 2;
    int m_splitScreenType = 4;
    OVNImageLoader *m_loader = nullptr;
    PendingLoad m_pending;
    quint64 m_selectionGeneration = 0;
};
