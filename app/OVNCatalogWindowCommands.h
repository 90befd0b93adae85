#pragma once

#include "app/OVNCatalogActions.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <optional>

class OVNAssetManager;
struct OVNCatalogWindowState;
class QAction;
class QButtonGroup;
class QLineEdit;
class QMenu;
class QToolBar;

// The catalog window's commands: the Edit, View and Media menus, the toolbar and its customise
// dialog, the enabling of every item from one snapshot, the view options and the filter field.
// Owned by the window; the items call the window's public actions and read and set the view
// options and widgets of the state the window hands it.
class OVNCatalogWindowCommands : public QObject
{
    Q_OBJECT

public:
    OVNCatalogWindowCommands(OVNAssetManager &window, OVNCatalogWindowState &state);

    // Builds the items (with the category actions), the filter field, the menus and the toolbar.
    void setupActions();
    void setupSearchField();
    void setupMenus();
    void setupToolbar();
    QAction *addCommand(OVNCatalogActions::Action action, int tag, const QString &title);

    // The toolbar: its identifier (its item order is stored under it), the item sets, and the
    // items shown now. Setting the items shows and stores them; unknown identifiers are left out.
    static QString toolbarIdentifier();
    static QStringList toolbarDefaultItemIdentifiers();
    static QStringList toolbarAllowedItemIdentifiers();
    QToolBar *toolbar() const { return m_toolbar; }
    QStringList toolbarItemIdentifiers() const;
    void setToolbarItemIdentifiers(const QStringList &identifiers);
    // The customise dialog: the allowed items beside the shown ones, in their order.
    void runToolbarCustomization();

    // The item of a command (the one with that tag where items share it); null when the window
    // offers none.
    QAction *action(OVNCatalogActions::Action action, int tag = -1) const;
    // Where the user finds a command, as a message names it: "View > Database Lists All Media".
    QString menuPath(OVNCatalogActions::Action action, int tag = -1) const;
    // What the commands are asked about, with the privilege answers of the shown list.
    OVNCatalogActions::Snapshot actionSnapshot();
    // Enables and marks every item from one snapshot.
    void refreshActions();
    // A line per menu command: "menuSetRating 3 enabled checked".
    QStringList describeActions();

    // Edit: each checks again what it may do, whatever the menu showed.
    void deleteSelection();
    void selectAll();
    void deselect();

    // View options: each is stored the moment it changes.
    void toggleViewOption(OVNCatalogActions::Option option);
    bool viewOption(OVNCatalogActions::Option option) const;
    void toggleUsesSmallIcons();
    void setUsesSmallIcons(bool small);
    // The slider runs from 48 to 256 while a list is shown.
    void setThumbsizeSliderEnabled(bool enabled);
    void thumbsizeSliderMoved(double value);
    void setThumbnailStyle(int style);
    // The sort code (0 none, 1 import date, 2 name, 3 extension, 4 file date, 5 rating) and the
    // direction (100 ascending, any other tag descending).
    void buttonVieworderMenuClick(int code);
    void buttonViewsortMenuClick(int tag);
    void buttonReloadCatalogListClick();
    void buttonReloadCatalogClick();
    void buttonSaveWorkspaceClick();
    // Stores the frame, the pane sizes and whether the right pane is collapsed.
    void saveWindowPosition();
    // Collapses the preview and details pane, or gives it back the width it had.
    void buttonToggleMediaInfoClick();
    bool isMediaInfoCollapsed() const;

    // The filter field: the text narrows the thumbnails to those whose chosen field holds it.
    void menuSearch();
    void menuSetSearchFilter(int tag);
    void menuActivateSearchFilter();
    void updateSearchFieldPlaceholder();
    void setSearchText(const QString &text);
    // The record key searched for a menu tag: none for 0 (all text fields); nothing outside 0 to 5.
    static std::optional<QString> searchKeyForField(int tag);
    QLineEdit *searchField() const { return m_searchField; }
    // The window's own menus, Edit, View and Media, for the menu bar.
    QList<QMenu *> windowMenus() const { return m_windowMenus; }

private:
    QAction *toolbarItem(const QString &identifier);
    // "READ & WRITE" and "FULL ACCESS" on the selection, each owner asked once per shown list.
    void selectionPrivileges(bool *mayWrite, bool *fullAccess);

    OVNAssetManager &w;
    OVNCatalogWindowState &m_state; // the window's, shared with it
    QHash<QPair<int, int>, QAction *> m_actions;
    QList<QMenu *> m_windowMenus;
    QToolBar *m_toolbar = nullptr;
    QHash<QString, QAction *> m_toolbarItems;
    QButtonGroup *m_viewselectionControl = nullptr;
    QLineEdit *m_searchField = nullptr;
    QMenu *m_searchMenu = nullptr;
    bool m_refreshPending = false;
};
