#pragma once

#include <QByteArray>
#include <QFlags>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class OVNMediaView;

// What the thumbnail view asks of its owner (the catalog window, the light table, the express
// panel). The view never touches the catalog: thumbnails, opening, deleting, importing, moving and
// linking all belong here. Every message is optional: an implementer declares in capabilities()
// the messages it answers and overrides those; the view never sends the others.
//
// The view reads capabilities() once when the delegate is set for the four frequent messages
// (ThumbnailData, SelectionDidChange, DoubleClick, UserAuthorization) and keeps the answers; it
// asks again before each send of every other message.
//
// All messages come on the GUI thread, except ovnMediaViewThumbnailData, which comes from whichever
// thread preloads (the thread that set the container). It must not wait for the GUI thread: the GUI
// thread may be waiting for the preload to stop.
class OVNMediaViewDelegate
{
public:
    enum Capability : unsigned {
        ThumbnailData = 1u << 0,
        SelectionDidChange = 1u << 1,
        DoubleClick = 1u << 2,
        UserAuthorization = 1u << 3,
        Escape = 1u << 4,
        WindowZoomPanel = 1u << 5,
        Delete = 1u << 6,
        OpenWithDefaultViewer = 1u << 7,
        OpenWithCreator = 1u << 8,
        ReimportSelection = 1u << 9,
        RelinkSelection = 1u << 10,
        MenuSetRating = 1u << 11,
        WillDeleteEntry = 1u << 12,
        DidDeleteEntry = 1u << 13,
        AddFiles = 1u << 14,
        MoveMids = 1u << 15,
        LinkMids = 1u << 16,
        ContainerAccess = 1u << 17,
        HandOn = 1u << 18,
        TakesFiles = 1u << 19,
    };
    Q_DECLARE_FLAGS(Capabilities, Capability)

    virtual ~OVNMediaViewDelegate() = default;

    // The messages this delegate answers.
    virtual Capabilities capabilities() const = 0;

    // The JPEG thumbnail stored for a media id; a null array when there is none (or none could be
    // had now: a null answer is asked again when the cell is drawn again). Asked while the view
    // paints (OVNMediaView::isPainting()), it answers at once and updates the view when it has more.
    virtual QByteArray ovnMediaViewThumbnailData(OVNMediaView *view, const QString &mediaId);
    // The user changed the selection; read it back from the view.
    virtual void ovnMediaViewSelectionDidChange(OVNMediaView *view);
    // A double-click on an item, with the keyboard modifiers held (they choose the viewer).
    virtual void ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *view, Qt::KeyboardModifiers modifiers);
    // Whether the user holds the privilege level for the current selection ("READ & WRITE"); the
    // view never asks for an alert.
    virtual bool isUserAuthorizedForAccessCurrentSelectionWithType(const QString &level, bool showAlert);

    virtual void ovnMediaViewEscape(OVNMediaView *view);
    virtual void windowZoomPanel(OVNMediaView *view);
    // The delete: action of the forward-delete key.
    virtual void delete_(OVNMediaView *view);
    virtual void ovnMediaViewOpenWithDefaultViewer(OVNMediaView *view);
    virtual void ovnMediaViewOpenWithCreator(OVNMediaView *view);
    virtual void ovnMediaViewReimportSelection(OVNMediaView *view);
    virtual void ovnMediaViewRelinkSelection(OVNMediaView *view);
    // A rating menu item: 0 (none) to 5.
    virtual void menuSetRating(int rating);
    // Asked once per row about to be deleted, highest row first; true removes it from the view.
    virtual bool ovnMediaViewWillDeleteEntry(OVNMediaView *view, int row);
    virtual void ovnMediaViewDidDeleteEntry(OVNMediaView *view, int row);
    // Whether the user holds the level for the category the view shows (drops go there).
    virtual bool isUserAuthorizedForAccessMediaContainerWithType(OVNMediaView *view, const QString &level);
    // Files dropped or pasted, to be added; `skipped` names what was offered but is no local file.
    // True when they are being catalogued, false when the delegate refused them (and said why).
    virtual bool ovnMediaViewAddFiles(OVNMediaView *view, const QStringList &paths, const QStringList &skipped);
    virtual void ovnMediaViewMoveMids(OVNMediaView *view, const QStringList &mids, const QString &fromCatalog,
                                      const QString &toCatalog);
    virtual void ovnMediaViewLinkMids(OVNMediaView *view, const QStringList &mids, const QString &toImageSet);
    // Asked each time entries leave through the view (a drag of the selection as it starts, Reveal
    // in File Manager, opening in another program), before anything is handed on: the ids of the
    // entries of `rows` that may not go (the delegate says why); nothing when none may go, and
    // then nothing is handed on.
    virtual std::optional<QSet<QString>> ovnMediaViewLeftOutOfHandOn(OVNMediaView *view, const QList<int> &rows);
    // Asked while files are dragged over the view (as the drag enters, and again now and then
    // while it moves), without a word to the user: whether a drop of them would be catalogued
    // now. A drag the delegate would refuse is not taken, so the program it comes from hears
    // nothing.
    virtual bool ovnMediaViewTakesFiles(OVNMediaView *view, const QStringList &paths);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(OVNMediaViewDelegate::Capabilities)
