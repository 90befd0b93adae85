#pragma once

#include "browser/OVNMediaViewDelegate.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "search/OVNExpressSearch.h"
#include "uikit/OVNContextButtonTarget.h"

#include <QMenu>
#include <QPointer>
#include <QSet>
#include <QThreadPool>
#include <QWidget>

#include <array>
#include <chrono>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class OVNButton;
class OVNDatabaseAccess;
class OVNMediaView;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QToolButton;

// The floating express search panel: a quick search over four annotation fields and an expert
// search whose condition the user types, over the whole catalog or one top-level category, with
// the results in a thumbnail view of its own from which files are opened, revealed and rated.
//
// It works over a catalog connection of its own, handed to it the first time it is shown; each
// search runs on a worker thread over a second connection kept for searching, so that a slow or
// runaway condition never holds up the window: Stop ends it, and a search started meanwhile
// replaces it (the older result is dropped when it arrives).
class OVNExpressPanel
    : public QWidget
    , public OVNMediaViewDelegate
    , public OVNContextButtonTarget
{
    Q_OBJECT
public:
    // The program's roads for opening a file, given by the application, and the read rule they
    // and every other road out of the results ask first.
    class Opening
    {
    public:
        virtual ~Opening() = default;
        // Which of `records` the user may still read, asked of the catalog now: those left out
        // are named in one alert on `window`, a user who may read nothing is told why there;
        // nothing when none may be handed on.
        virtual std::optional<MediaList> readableNow(OVNDatabaseAccess *db, const MediaList &records,
                                                     QWidget *window) = 0;
        // In the program's viewer for the file's type.
        virtual void openInViewer(const MediaRecord &record) = 0;
        // In the program's viewer, a movie at once in full screen.
        virtual void openFullScreen(const MediaRecord &record) = 0;
        // With the desktop's default application; a missing file gets its alert.
        virtual void openWithCreator(const MediaRecord &record) = 0;
        // With a chosen application (a desktop entry or a program).
        virtual void openWithApplication(const MediaRecord &record, const QString &application) = 0;
    };

    OVNExpressPanel();
    ~OVNExpressPanel() override;

    bool isVisible() const { return QWidget::isVisible(); }
    void makeKeyAndOrderFront();
    void orderOut();

    OVNDatabaseAccess *databaseConnection() const { return m_connection.get(); }
    // A new connection (or none) drops the search-in list, which initSelections() builds again.
    void setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess> connection);
    // Not owned; without one, nothing is opened or handed on.
    void setOpening(Opening *opening) { m_opening = opening; }

    // Builds the search-in list from the connection, once: later calls keep it. Without a working
    // connection an alert says so and the next call tries again.
    void initSelections();
    // How many times the list was built.
    int selectionBuilds() const { return m_selectionBuilds; }

    // ---- searching ----
    // Runs the search of the tab shown; a refused search shows why in the status line.
    void findSearchClicked();
    // Ends the running search.
    void findStopClicked();
    // Empties both tabs (the fields' column tags stay), the results and the status line.
    void findClearClicked();
    bool isSearching() const { return m_searching; }
    // The longest a search may run (30 seconds unless set).
    void setTimeLimitMs(int milliseconds) { m_timeLimitMs = milliseconds; }
    // The column tag of a quick-search field (0 to 3), as its search menu sets it.
    void setFieldTag(int field, int tag);
    int fieldTag(int field) const { return m_tags.at(size_t(field)); }
    // Inserts the clause of the field menu's item at the expert text's cursor.
    void insertFieldClause(int fieldMenuIndex);
    // The expert tab's field button asks here as it is pressed: the panel pops up a new field menu
    // below the button itself and answers none, so that the button keeps no menu of its own.
    std::unique_ptr<QMenu> menuForContextButton(QAbstractButton *button) override;
    // The field menu last popped up (null before the first).
    QMenu *fieldMenu() const { return m_fieldMenu; }

    // ---- actions on the selected results; each answers false when it only beeped ----
    bool buttonOpenWithMediaViewerClick();
    // Exactly one file.
    bool buttonOpenWithMediaViewerFSClick();
    bool buttonOpenWithCreatorClick();
    bool openWithApplication(const QString &application);
    void buttonRevealInFinderClick();

    // ---- OVNMediaViewDelegate ----
    Capabilities capabilities() const override;
    QByteArray ovnMediaViewThumbnailData(OVNMediaView *view, const QString &mediaId) override;
    void ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *view, Qt::KeyboardModifiers modifiers) override;
    void ovnMediaViewOpenWithDefaultViewer(OVNMediaView *view) override;
    void ovnMediaViewOpenWithCreator(OVNMediaView *view) override;
    // Reveal in File Manager, another program and a drag out hand on only what the user may still read.
    std::optional<QSet<QString>> ovnMediaViewLeftOutOfHandOn(OVNMediaView *view, const QList<int> &rows) override;
    // Rates the selected entries when the user may change every one of them (else the
    // "Authorization Failed" alert and nothing is written); a failed write is reported. The check and
    // the writes go on through sessions that end and a server away for up to 30 seconds, as the
    // window's do, the status line saying "Waiting for the catalog server..." meanwhile.
    void menuSetRating(int rating) override;

    // ---- the controls, for tests and tools ----
    QTabWidget *tabs() const { return m_tabs; }
    QComboBox *searchIn() const { return m_searchIn; }
    QLineEdit *findField(int field) const { return m_fields.at(size_t(field)); }
    // Fields 1 to 3: item 0 "AND", item 1 "OR".
    QComboBox *findOperator(int field) const { return m_operators.at(size_t(field)); }
    QPlainTextEdit *expertText() const { return m_expertText; }
    OVNMediaView *mediaView() const { return m_mediaView; }
    QString statusText() const;
    QPushButton *searchButton() const { return m_searchButton; }
    QPushButton *stopButton() const { return m_stopButton; }
    // The statement the search button would run now, "" when refused (the reason in `refusal`).
    QString currentStatement(QString *refusal = nullptr) const;

signals:
    // A search ended: its result, refusal or stop is shown.
    void searchFinished();
    // The status line says `text` now.
    void statusShown(const QString &text);
    // The user closed the panel's window.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *makeQuickTab();
    QWidget *makeExpertTab();
    void showFieldMenu();
    void setStatus(const QString &text);
    void setSearching(bool searching);
    void showOutcome(int generation, const OVNExpressSearch::Outcome &outcome);
    // The expert tab's search over the chosen search-in item.
    OVNExpress::ExpertSearch expertSearch() const;
    // The quick search the fields hold, over the chosen place.
    OVNExpress::QuickSearch quickSearch() const;
    // Asks the running search to end.
    void stopRunningSearch();
    // The selected result rows' records, in selection order.
    QList<int> selectedRows() const;
    bool openSelected(int road, const QString &application);
    // The records of `rows` the user may still read, asked now (with the opening's words).
    std::optional<MediaList> readableOf(const QList<int> &rows);
    // The status line's words and a busy pointer while the panel waits for the catalog server;
    // what the line said before comes back when the wait ends.
    OVNCatalogOpening::Status waitingStatus(bool &shown, QString &before);
    void endWaiting(bool shown, const QString &before);
    // A thumbnail read again through sessions that end, within one 30-second budget for the
    // thumbnails of one outage; false when the server did not answer in it.
    bool thumbnailThroughEndedSessions(const QString &mediaId, QByteArray *data);

    std::shared_ptr<OVNDatabaseAccess> m_connection;
    Opening *m_opening = nullptr;
    std::vector<OVNExpressSearch::Catalog> m_catalogs;
    int m_selectionBuilds = 0;
    int m_timeLimitMs = OVNExpressSearch::defaultTimeLimitMs;
    std::array<int, 4> m_tags{};

    // The searching thread's connection: made there, stopped from here.
    std::mutex m_searchMutex;
    std::shared_ptr<OVNDatabaseAccess> m_searchConnection;
    std::atomic<int> m_generation{0};
    // The running search's own stop request (SQLite looks at it throughout).
    std::shared_ptr<std::atomic<bool>> m_stop;
    bool m_searching = false;
    QThreadPool m_pool;

    QTabWidget *m_tabs = nullptr;
    QComboBox *m_searchIn = nullptr;
    std::array<QLineEdit *, 4> m_fields{};
    std::array<QToolButton *, 4> m_fieldMenus{};
    std::array<QComboBox *, 4> m_operators{};
    QPlainTextEdit *m_expertText = nullptr;
    OVNButton *m_fieldMenuButton = nullptr;
    QPointer<QMenu> m_fieldMenu;
    OVNMediaView *m_mediaView = nullptr;
    QLabel *m_status = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_searchButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    // When the thumbnails' wait for the server gives up, and whether a wait from the event loop is
    // queued (a repaint never waits).
    std::optional<std::chrono::steady_clock::time_point> m_thumbnailWaitEnds;
    bool m_thumbnailWaitQueued = false;
};
