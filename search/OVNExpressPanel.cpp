#include "search/OVNExpressPanel.h"

#include "browser/OVNMediaView.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNCategoryAccess.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"
#include "search/OVNExpressStatements.h"
#include "search/OVNFind.h"
#include "uikit/OVNButton.h"
#include "uikit/OVNIconSetHelper.h"
#include "uikit/OVNWindowPlacement.h"
#include "platform/CatalogNames.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QGuiApplication>
#include <QThread>
#include <QTimer>

namespace {
using CatalogNames::keyRating;

enum Road { Viewer = 0, Creator = 1, Application = 2 };

QString itemsText(qsizetype count) { return countedText(count, "%1 Item", "%1 Items"); }
} // namespace

OVNExpressPanel::OVNExpressPanel() : QWidget(nullptr, Qt::Tool)
{
    setWindowTitle(localized("Express Search"));
    setAttribute(Qt::WA_QuitOnClose, false);
    // One search at a time on the search connection; a newer one waits for the stopped older one.
    m_pool.setMaxThreadCount(1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);

    auto *where = new QHBoxLayout;
    where->addWidget(new QLabel(localized("Search in:"), this));
    m_searchIn = new QComboBox(this);
    m_searchIn->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_searchIn->setMinimumContentsLength(16);
    where->addWidget(m_searchIn, 1);
    layout->addLayout(where);

    m_tabs = new QTabWidget(this);
    m_tabs->addTab(makeQuickTab(), localized("Quick Search"));
    m_tabs->addTab(makeExpertTab(), localized("Expert Search"));
    // The fields keep their height; the results take what the panel gains.
    m_tabs->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    layout->addWidget(m_tabs);

    auto *buttons = new QHBoxLayout;
    auto *clear = new QPushButton(localized("Clear"), this);
    connect(clear, &QPushButton::clicked, this, [this] { findClearClicked(); });
    m_stopButton = new QPushButton(localized("Stop"), this);
    m_stopButton->setEnabled(false);
    connect(m_stopButton, &QPushButton::clicked, this, [this] { findStopClicked(); });
    m_searchButton = new QPushButton(localized("Search"), this);
    m_searchButton->setDefault(true);
    connect(m_searchButton, &QPushButton::clicked, this, [this] { findSearchClicked(); });
    buttons->addWidget(clear);
    buttons->addStretch(1);
    buttons->addWidget(m_stopButton);
    buttons->addWidget(m_searchButton);
    layout->addLayout(buttons);

    m_mediaView = new OVNMediaView(this);
    m_mediaView->setDelegate(this);
    m_mediaView->setThumbnailWidth(80);
    m_mediaView->setThumbnailStyle(OVNMediaView::CompactStyle);
    m_mediaView->setThumbnailQuality(1);
    m_mediaView->setDisplayType(OVNMediaView::GridDisplay);
    m_mediaView->setSortOrder(1);
    m_mediaView->setSortAscending(true);
    m_mediaView->setMenuForEventType(1);
    m_mediaView->setMinimumHeight(160);
    layout->addWidget(m_mediaView, 1);

    auto *actions = new QHBoxLayout;
    const auto actionButton = [this, actions](const char *title, auto handler) {
        auto *button = new QToolButton(this);
        button->setText(localized(title));
        connect(button, &QToolButton::clicked, this, handler);
        actions->addWidget(button);
        return button;
    };
    actionButton("Open", [this] { buttonOpenWithMediaViewerClick(); });
    actionButton("Full Screen", [this] { buttonOpenWithMediaViewerFSClick(); });
    actionButton("Open with Default Application", [this] { buttonOpenWithCreatorClick(); });
    actionButton("Reveal", [this] { buttonRevealInFinderClick(); });
    auto *rating = new QToolButton(this);
    rating->setText(localized("Rating"));
    rating->setPopupMode(QToolButton::InstantPopup);
    auto *ratingMenu = new QMenu(rating);
    for (int value = 0; value <= 5; ++value) {
        const QString title = value == 0 ? localizedMenu("No Rating") : QString(value, QChar(0x2605));
        ratingMenu->addAction(title, this, [this, value] { menuSetRating(value); });
    }
    rating->setMenu(ratingMenu);
    actions->addWidget(rating);
    actions->addStretch(1);
    layout->addLayout(actions);

    auto *statusLine = new QHBoxLayout;
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 0);
    m_progress->setFixedWidth(60);
    m_progress->setMaximumHeight(12);
    m_progress->setTextVisible(false);
    m_progress->hide();
    m_status = new QLabel(this);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusLine->addWidget(m_progress);
    statusLine->addWidget(m_status, 1);
    layout->addLayout(statusLine);

    resize(460, 700);
}

OVNExpressPanel::~OVNExpressPanel()
{
    ++m_generation;
    stopRunningSearch();
    m_pool.waitForDone();
}

void OVNExpressPanel::stopRunningSearch()
{
    if (m_stop)
        m_stop->store(true);
    std::lock_guard lock(m_searchMutex);
    if (m_searchConnection)
        m_searchConnection->stopReadOnlySearch();
}

QWidget *OVNExpressPanel::makeQuickTab()
{
    auto *tab = new QWidget;
    auto *grid = new QGridLayout(tab);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            auto *op = new QComboBox(tab);
            op->addItems({localized("AND"), localized("OR")});
            m_operators[size_t(i)] = op;
            grid->addWidget(op, i, 0);
        }
        auto *menuButton = new QToolButton(tab);
        menuButton->setText(QStringLiteral("\u2315"));
        menuButton->setToolTip(localized("Search Menu"));
        menuButton->setPopupMode(QToolButton::InstantPopup);
        auto *menu = new QMenu(menuButton);
        auto *choices = new QActionGroup(menu);
        for (const OVNExpress::TagItem &item : OVNExpress::tagMenu()) {
            if (item.tag < 0) {
                menu->addSeparator();
                continue;
            }
            QAction *action =
                menu->addAction(localizedMenu(item.title), this, [this, i, tag = item.tag] { setFieldTag(i, tag); });
            action->setCheckable(true);
            action->setData(item.tag);
            choices->addAction(action);
        }
        menuButton->setMenu(menu);
        m_fieldMenus[size_t(i)] = menuButton;
        grid->addWidget(menuButton, i, 1);
        auto *field = new QLineEdit(tab);
        field->setClearButtonEnabled(true);
        connect(field, &QLineEdit::returnPressed, this, [this] { findSearchClicked(); });
        m_fields[size_t(i)] = field;
        grid->addWidget(field, i, 2);
        setFieldTag(i, OVNExpress::All);
    }
    grid->setColumnStretch(2, 1);
    return tab;
}

std::unique_ptr<QMenu> OVNExpressPanel::menuForContextButton(QAbstractButton *button)
{
    if (!button)
        return nullptr;
    if (m_fieldMenu)
        m_fieldMenu->deleteLater();
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const std::vector<OVNExpress::FieldItem> &items = OVNExpress::fieldMenu();
    for (size_t i = 0; i < items.size(); ++i) {
        if (*items[i].group)
            menu->addSection(QString::fromLatin1(items[i].group) == QLatin1String("Media Info")
                                 ? QStringLiteral("Media Info")
                                 : localized(items[i].group));
        menu->addAction(localized(items[i].title), this, [this, i] { insertFieldClause(int(i)); });
    }
    m_fieldMenu = menu;
    menu->popup(button->mapToGlobal(QPoint(0, button->height())));
    return nullptr;
}

QWidget *OVNExpressPanel::makeExpertTab()
{
    auto *tab = new QWidget;
    auto *box = new QVBoxLayout(tab);
    auto *row = new QHBoxLayout;
    // A context button: a press asks the panel, which pops up a new field menu itself; from the
    // keyboard the button's click does the same.
    m_fieldMenuButton = new OVNButton(tab);
    m_fieldMenuButton->setText(localized("Insert Field"));
    m_fieldMenuButton->setTarget(this);
    connect(m_fieldMenuButton, &QAbstractButton::clicked, this, [this] { menuForContextButton(m_fieldMenuButton); });
    row->addWidget(m_fieldMenuButton);
    auto *hint = new QLabel(localized("Columns as #tag#, e.g. #rating# > 3"), tab);
    hint->setEnabled(false);
    row->addWidget(hint, 1);
    box->addLayout(row);
    m_expertText = new QPlainTextEdit(tab);
    m_expertText->setPlaceholderText(
        localized("A condition, e.g. upper(#keywords#) like upper('%beach%') and #rating# >= 3"));
    m_expertText->setTabChangesFocus(true);
    m_expertText->setFixedHeight(m_expertText->fontMetrics().lineSpacing() * 5 + 12);
    box->addWidget(m_expertText);
    return tab;
}

void OVNExpressPanel::makeKeyAndOrderFront()
{
    OVNWindowPlacement::fitOnScreen(this);
    show();
    raise();
    activateWindow();
}

void OVNExpressPanel::orderOut() { hide(); }

void OVNExpressPanel::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

void OVNExpressPanel::setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess> connection)
{
    if (connection == m_connection)
        return;
    m_connection = std::move(connection);
    m_catalogs.clear();
    ++m_generation;
    stopRunningSearch();
    std::lock_guard lock(m_searchMutex);
    m_searchConnection.reset(); // the next search connects to the new catalog
}

void OVNExpressPanel::initSelections()
{
    if (!m_catalogs.empty())
        return;
    if (!m_connection || !m_connection->isDBConnectionActive()) {
        Alerts::run({localized("Ostrevan failed to connect to the media database. Please check your database "
                               "settings (preferences)."),
                     localized("No database connection"),
                     {localized("Close")},
                     Alert::Style::Critical,
                     Alert::Modality::Application,
                     {}});
        return;
    }
    m_catalogs = OVNExpressSearch::catalogsOf(*m_connection);
    ++m_selectionBuilds;
    m_searchIn->clear();
    const OVNIconSetHelper &icons = OVNIconSetHelper::sharedIconSet();
    for (size_t i = 0; i < m_catalogs.size(); ++i) {
        const QImage icon = i == 0 ? icons.toolbarIconFor(QStringLiteral("DBMini"))
                                   : icons.outlineIconForType(m_catalogs[i].kind, 10);
        m_searchIn->addItem(icon.isNull() ? QIcon() : QIcon(QPixmap::fromImage(icon)), m_catalogs[i].title);
    }
}

void OVNExpressPanel::setFieldTag(int field, int tag)
{
    if (field < 0 || field > 3)
        return;
    m_tags[size_t(field)] = tag;
    if (m_fields[size_t(field)])
        m_fields[size_t(field)]->setPlaceholderText(OVNExpress::tagTitle(tag));
    if (m_fieldMenus[size_t(field)]) {
        for (QAction *action : m_fieldMenus[size_t(field)]->menu()->actions())
            action->setChecked(action->isCheckable() && action->data().toInt() == tag);
    }
}

void OVNExpressPanel::insertFieldClause(int fieldMenuIndex)
{
    const std::vector<OVNExpress::FieldItem> &items = OVNExpress::fieldMenu();
    if (fieldMenuIndex < 0 || size_t(fieldMenuIndex) >= items.size())
        return;
    const OVNExpress::FieldItem &item = items[size_t(fieldMenuIndex)];
    m_expertText->insertPlainText(OVNExpress::clauseTemplate(item.operatorType, item.tag));
    m_expertText->setFocus();
}

QString OVNExpressPanel::statusText() const { return m_status->text(); }

void OVNExpressPanel::setStatus(const QString &text)
{
    m_status->setText(text);
    emit statusShown(text);
}

void OVNExpressPanel::setSearching(bool searching)
{
    m_searching = searching;
    m_progress->setVisible(searching);
    m_stopButton->setEnabled(searching);
}

OVNExpress::ExpertSearch OVNExpressPanel::expertSearch() const
{
    const int chosen = m_searchIn->currentIndex();
    OVNExpress::ExpertSearch expert;
    expert.clause = m_expertText->toPlainText();
    expert.restricted = chosen > 0 && size_t(chosen) < m_catalogs.size();
    expert.categoryIds = expert.restricted ? m_catalogs[size_t(chosen)].ids : QStringList();
    return expert;
}

OVNExpress::QuickSearch OVNExpressPanel::quickSearch() const
{
    const int chosen = m_searchIn->currentIndex();
    OVNExpress::QuickSearch quick;
    for (size_t i = 0; i < 4; ++i) {
        quick.fields[i].text = m_fields[i]->text();
        quick.fields[i].tag = m_tags[i];
        quick.fields[i].orJoin = m_operators[i] && m_operators[i]->currentIndex() == 1;
    }
    quick.restricted = chosen > 0 && size_t(chosen) < m_catalogs.size();
    quick.categoryIds = quick.restricted ? m_catalogs[size_t(chosen)].ids : QStringList();
    return quick;
}

QString OVNExpressPanel::currentStatement(QString *refusal) const
{
    QString why;
    QString sql;
    if (m_tabs->currentIndex() == 0) {
        const OVNExpress::QuickSearch quick = quickSearch();
        why = quick.refusal();
        const OVNFindLine::Dialect dialect = m_connection ? OVNFind::dialectOf(*m_connection)
                                                          : OVNFindLine::Dialect::SQLite;
        sql = quick.statement(dialect);
    } else {
        const OVNExpress::ExpertSearch expert = expertSearch();
        why = expert.refusal();
        sql = expert.statement(m_connection ? OVNFind::dialectOf(*m_connection) : OVNFindLine::Dialect::SQLite);
    }
    if (refusal)
        *refusal = why;
    return sql;
}

void OVNExpressPanel::findSearchClicked()
{
    const int generation = ++m_generation;
    // The search running now is replaced: it ends, and its result is dropped when it comes.
    stopRunningSearch();
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_mediaView->setMediaContainer(nullptr);
    QString refusal;
    const QString sql = currentStatement(&refusal);
    if (!refusal.isEmpty() || !m_connection || !m_connection->isDBConnectionActive()) {
        setSearching(false);
        setStatus(refusal.isEmpty() ? itemsText(0) : refusal);
        emit searchFinished();
        return;
    }
    // The expert statement is made again on the searching connection, which knows the categories
    // its user may read.
    std::optional<OVNExpress::ExpertSearch> expert;
    std::optional<OVNExpress::QuickSearch> quick;
    if (m_tabs->currentIndex() != 0)
        expert = expertSearch();
    else
        quick = quickSearch();
    setStatus(localized("Searching..."));
    setSearching(true);
    const std::shared_ptr<OVNDatabaseAccess> main = m_connection;
    const int timeLimitMs = m_timeLimitMs;
    m_pool.start([this, main, sql, expert, quick, generation, timeLimitMs, stop = m_stop] {
        if (m_generation.load() != generation)
            return;
        std::shared_ptr<OVNDatabaseAccess> connection;
        {
            std::lock_guard lock(m_searchMutex);
            connection = m_searchConnection;
        }
        if (!connection || !connection->isDBConnectionActive()) {
            // Made here, so that a server that is slow to answer holds up no window.
            connection = OVNExpressSearch::openSearchConnection(*main);
            std::lock_guard lock(m_searchMutex);
            if (m_generation.load() == generation)
                m_searchConnection = connection;
        }
        OVNExpressSearch::Outcome outcome;
        if (!connection->isDBConnectionActive()) {
            qWarning("Express search: no connection: %s", qUtf8Printable(connection->getLastErrorMessage()));
            outcome.message = connection->lastErrorServerFull() ? OVNExpressSearch::failureText(*connection)
                                                                : localized("The catalog cannot be reached.");
        } else if (m_generation.load() != generation) {
            return;
        } else if (expert) {
            outcome = OVNExpressSearch::runExpert(*connection, *expert, timeLimitMs, stop.get());
        } else if (quick) {
            outcome = OVNExpressSearch::runQuick(*connection, *quick, timeLimitMs, stop.get());
        } else {
            outcome = OVNExpressSearch::run(*connection, sql, timeLimitMs, stop.get());
        }
        QMetaObject::invokeMethod(
            this, [this, generation, outcome = std::move(outcome)] { showOutcome(generation, outcome); },
            Qt::QueuedConnection);
    });
}

void OVNExpressPanel::showOutcome(int generation, const OVNExpressSearch::Outcome &outcome)
{
    if (generation != m_generation.load())
        return; // a newer search began meanwhile
    setSearching(false);
    using Status = OVNExpressSearch::Outcome::Status;
    switch (outcome.status) {
    case Status::Found:
        m_mediaView->setMediaContainer(std::make_shared<MediaList>(outcome.records));
        m_mediaView->setMediaContainerMID(QString());
        m_mediaView->setFocus();
        // An entry left out for its size is said beside the count.
        setStatus(outcome.leftOut.isEmpty() ? itemsText(m_mediaView->count())
                                            : itemsText(m_mediaView->count()) + QLatin1Char(' ') + outcome.leftOut);
        break;
    case Status::Refused:
    case Status::Stopped:
    case Status::TimedOut:
    case Status::Failed:
        // The catalog layer's own sentences; what the catalog said is in the log.
        setStatus(outcome.message);
        break;
    }
    emit searchFinished();
}

void OVNExpressPanel::findStopClicked() { stopRunningSearch(); }

void OVNExpressPanel::findClearClicked()
{
    ++m_generation;
    stopRunningSearch();
    setSearching(false);
    m_mediaView->setMediaContainer(nullptr);
    m_searchIn->setCurrentIndex(m_searchIn->count() > 0 ? 0 : -1);
    for (QLineEdit *field : m_fields)
        field->clear();
    for (QComboBox *op : m_operators) {
        if (op)
            op->setCurrentIndex(0);
    }
    m_expertText->clear();
    setStatus(QString());
}

// ---- the results ----

QList<int> OVNExpressPanel::selectedRows() const { return m_mediaView->selectedRows(); }

std::optional<MediaList> OVNExpressPanel::readableOf(const QList<int> &rows)
{
    if (!m_opening)
        return std::nullopt;
    MediaList records;
    for (int row : rows) {
        if (MediaRecordRef record = m_mediaView->objectForRow(row))
            records.append(record);
    }
    if (records.isEmpty())
        return std::nullopt;
    // Asked at the moment the entries leave: the results may have been found long before the
    // user lost the right to read some of them.
    return m_opening->readableNow(m_connection.get(), records, this);
}

bool OVNExpressPanel::openSelected(int road, const QString &application)
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty()) {
        QApplication::beep();
        return false;
    }
    const std::optional<MediaList> readable = readableOf(rows);
    if (!readable)
        return true;
    for (const MediaRecordRef &record : *readable) {
        switch (road) {
        case Viewer:
            m_opening->openInViewer(*record);
            break;
        case Creator:
            m_opening->openWithCreator(*record);
            break;
        default:
            m_opening->openWithApplication(*record, application);
            break;
        }
    }
    return true;
}

bool OVNExpressPanel::buttonOpenWithMediaViewerClick() { return openSelected(Viewer, QString()); }

bool OVNExpressPanel::buttonOpenWithMediaViewerFSClick()
{
    const QList<int> rows = selectedRows();
    if (rows.size() != 1) {
        QApplication::beep();
        return false;
    }
    const std::optional<MediaList> readable = readableOf(rows);
    if (readable && !readable->isEmpty())
        m_opening->openFullScreen(*readable->first());
    return true;
}

bool OVNExpressPanel::buttonOpenWithCreatorClick() { return openSelected(Creator, QString()); }

bool OVNExpressPanel::openWithApplication(const QString &application) { return openSelected(Application, application); }

void OVNExpressPanel::buttonRevealInFinderClick() { m_mediaView->revealInFinder(); }

OVNMediaViewDelegate::Capabilities OVNExpressPanel::capabilities() const
{
    return ThumbnailData | DoubleClick | OpenWithDefaultViewer | OpenWithCreator | MenuSetRating | HandOn;
}

QByteArray OVNExpressPanel::ovnMediaViewThumbnailData(OVNMediaView *view, const QString &mediaId)
{
    if (!m_connection)
        return QByteArray();
    // A preloading thread neither waits nor shows anything: the cell asks again when drawn.
    if (QThread::currentThread() != thread())
        return m_connection->getThumbnailForMediaID(mediaId);
    const quint64 failures = m_connection->failureCount();
    QByteArray data = m_connection->getThumbnailForMediaID(mediaId);
    if (!OVNCatalogOpening::failedForLostServer(*m_connection, failures)) {
        m_thumbnailWaitEnds.reset();
        return data;
    }
    if (view && view->isPainting()) {
        // A repaint never waits: the wait runs from the event loop, and the cell is drawn again
        // once the server answers.
        if (!m_thumbnailWaitQueued) {
            m_thumbnailWaitQueued = true;
            QTimer::singleShot(0, this, [this, mediaId] {
                m_thumbnailWaitQueued = false;
                QByteArray read;
                if (m_connection && thumbnailThroughEndedSessions(mediaId, &read))
                    m_mediaView->viewport()->update();
            });
        }
        return QByteArray();
    }
    return thumbnailThroughEndedSessions(mediaId, &data) ? data : QByteArray();
}

bool OVNExpressPanel::thumbnailThroughEndedSessions(const QString &mediaId, QByteArray *data)
{
    const auto now = std::chrono::steady_clock::now();
    if (!m_thumbnailWaitEnds)
        m_thumbnailWaitEnds = now + std::chrono::seconds(OVNCatalogOpening::waitSeconds);
    const int left = int(std::chrono::ceil<std::chrono::seconds>(*m_thumbnailWaitEnds - now).count());
    if (left <= 0)
        return false;
    bool shown = false;
    QString before;
    const bool read = OVNCatalogOpening::retried(
        *m_connection, [&] { *data = m_connection->getThumbnailForMediaID(mediaId); }, waitingStatus(shown, before),
        left);
    endWaiting(shown, before);
    if (read) {
        m_thumbnailWaitEnds.reset();
        return true;
    }
    if (std::chrono::steady_clock::now() >= *m_thumbnailWaitEnds)
        setStatus(localized("Thumbnails could not be read: the catalog server cannot be reached."));
    return false;
}

OVNCatalogOpening::Status OVNExpressPanel::waitingStatus(bool &shown, QString &before)
{
    return [this, &shown, &before](const QString &text) {
        if (shown)
            return;
        shown = true;
        before = statusText();
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
        setStatus(text);
        // The work goes on on this thread, which serves no events meanwhile: the words and the
        // pointer go to the display now.
        m_status->repaint();
        QGuiApplication::sync();
    };
}

void OVNExpressPanel::endWaiting(bool shown, const QString &before)
{
    if (!shown)
        return;
    QGuiApplication::restoreOverrideCursor();
    // Unless the command has said something of its own meanwhile.
    if (statusText() == OVNCatalogOpening::waitingText())
        setStatus(before);
}

void OVNExpressPanel::ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *, Qt::KeyboardModifiers modifiers)
{
    // Read on every double-click, so that a viewer just chosen in the preferences opens.
    const UserDefaults &defaults = UserDefaults::standard();
    const bool second = modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int type = int(
        defaults.integerForKey(second ? QStringLiteral("DefaultViewerType2") : QStringLiteral("DefaultViewerType")));
    const QString application = defaults.stringForKey(second ? QStringLiteral("DefaultViewerApplication2")
                                                             : QStringLiteral("DefaultViewerApplication"));
    switch (type) {
    case Viewer:
        buttonOpenWithMediaViewerClick();
        break;
    case Creator:
        buttonOpenWithCreatorClick();
        break;
    case Application:
        application.isEmpty() ? buttonOpenWithCreatorClick() : openWithApplication(application);
        break;
    default:
        break;
    }
}

void OVNExpressPanel::ovnMediaViewOpenWithDefaultViewer(OVNMediaView *) { buttonOpenWithMediaViewerClick(); }

void OVNExpressPanel::ovnMediaViewOpenWithCreator(OVNMediaView *) { buttonOpenWithCreatorClick(); }

std::optional<QSet<QString>> OVNExpressPanel::ovnMediaViewLeftOutOfHandOn(OVNMediaView *view, const QList<int> &rows)
{
    if (view != m_mediaView)
        return std::nullopt;
    const std::optional<MediaList> readable = readableOf(rows);
    if (!readable)
        return std::nullopt;
    QSet<QString> leftOut;
    for (int row : rows)
        leftOut.insert(m_mediaView->mediaIDForRow(row));
    for (const MediaRecordRef &record : *readable)
        leftOut.remove(record->field(MediaRecord::Mid));
    return leftOut;
}

void OVNExpressPanel::menuSetRating(int rating)
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty() || rating < 0 || rating > 5 || !m_connection)
        return;
    const QString value = QString::number(rating);
    // Every entry answers to the category that owns it, as the catalog holds it now (the user's
    // groups read afresh); one refused entry refuses the command.
    QStringList owners;
    for (int row : rows)
        owners.append(m_mediaView->mediaObject(CatalogNames::keyCategoryId, row).toString());
    // The check and the writes in one transaction, run again on a new session when the session
    // ends on the way: a rating is the same however often it is written, and after a lost answer
    // the next try looks once the old session's commit is visible.
    std::optional<OVNCategoryAccess::Refusal> refused;
    bool shown = false;
    QString before;
    const bool written = OVNCatalogOpening::run(
        *m_connection, OVNCatalogOpening::waitSeconds,
        [&] {
            OVNDatabaseTransaction batch(*m_connection);
            const quint64 failures = m_connection->failureCount();
            refused = OVNCategoryAccess::entriesRefusalNow(*m_connection, OVNPrivilegeLevel::readWrite(), owners);
            if (refused) {
                batch.rollback();
                // Privileges that could not be read for a lost session are asked again.
                return !OVNCatalogOpening::failedForLostServer(*m_connection, failures);
            }
            for (int row : rows) {
                if (!m_connection->updateMediaListEntry(m_mediaView->mediaIDForRow(row), keyRating, value,
                                                        OVNDatabaseAccess::BareValue))
                    return false;
            }
            return !batch.isActive() || batch.commit();
        },
        waitingStatus(shown, before));
    endWaiting(shown, before);
    const QString error = written ? QString() : m_connection->getLastErrorMessage();
    if (written && refused) {
        Alerts::run({refused->title, refused->text, {}, Alert::Style::Warning, Alert::Modality::Application, {}});
        return;
    }
    if (!written) {
        Alerts::run({localized("Rating Failed"),
                     localized("The rating could not be written to the catalog; the entries keep their rating.")
                         + QStringLiteral("\n\n") + error,
                     {},
                     Alert::Style::Warning,
                     Alert::Modality::Application,
                     {}});
        return;
    }
    for (int row : rows)
        m_mediaView->setMediaObject(keyRating, value, row);
    m_mediaView->viewport()->update();
}
