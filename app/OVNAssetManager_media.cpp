// The media list of the selected category, by its kind.
#include "app/OVNAssetManager.h"

#include "catalogdb/OVNCatalogOpening.h"

#include "app/OVNCategoryComment.h"
#include "app/OVNCategoryTreeModel.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "app/OVNCategoryNodes.h"
#include "app/OVNSmartFolders.h"
#include "browser/OVNMediaView.h"
#include "formats/OVNHelper.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "search/OVNExpressSearch.h"
#include "uikit/OVNBGView.h"
#include "platform/CatalogNames.h"

#include <QPushButton>
#include <QSlider>

namespace {
using CatalogNames::keyMid;
using CatalogNames::keyType;

QString itemsText(int count) { return countedText(count, "%1 Item", "%1 Items"); }
} // namespace

bool OVNAssetManager::showMediaList(const MediaList &records)
{
    std::optional<MediaList> readable = readableMedia(records);
    m_state.mediaView->setMediaContainer(std::make_shared<MediaList>(readable.value_or(MediaList())));
    return readable.has_value();
}

QString OVNAssetManager::cachedCategoryLevel(const QString &categoryId)
{
    auto found = m_categoryLevels.constFind(categoryId);
    if (found != m_categoryLevels.constEnd())
        return *found;
    if (!m_state.dbcon)
        return QString();
    // Asked to show actions enabled, which never waits: a level that could not be read is asked
    // again next time rather than kept.
    const quint64 failures = m_state.dbcon->failureCount();
    const QString level = m_state.dbcon->getCategoryAccessPrivilegesForMID(categoryId);
    if (m_state.dbcon->failureCount() == failures)
        m_categoryLevels.insert(categoryId, level);
    return level;
}

std::optional<MediaList> OVNAssetManager::readableMedia(const MediaList &records)
{
    // On a catalog with users, an entry is shown only to whoever may read the category that owns
    // it now, whichever list it arrives in (all entries, a folder's, a set's or a search's); the
    // tools judge what they list by the same rule. The privileges are asked again on a new session
    // through sessions that end, within the command's 30 seconds; nothing when they could not be
    // read.
    if (!m_state.dbcon)
        return records;
    m_categoryLevels.clear();
    std::optional<MediaList> readable;
    const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
    OVNCatalogOpening::retried(
        *m_state.dbcon, [&] { readable = OVNCategoryAccess::readableNow(*m_state.dbcon, records); }, wait->status(),
        wait->secondsLeft());
    return readable;
}

void OVNAssetManager::showItemCount() { setStatus(itemsText(m_state.mediaView->count()), false); }

int OVNAssetManager::numberOfSelectedItems() const
{
    return m_state.mediaView ? m_state.mediaView->numberOfSelectedRows() : 0;
}

void OVNAssetManager::reloadMediaList()
{
    setStatus(localized("Loading Media Preview List..."), true);
    loadPreferences();
    m_commands->setThumbsizeSliderEnabled(false);
    // A new list is shown unfiltered; the privilege answers are asked afresh for it.
    m_commands->setSearchText(QString());
    m_categoryLevels.clear();

    m_state.mediaView->setMediaContainer(nullptr);
    initMediaView();
    m_state.mediaView->resizeFrameToFitMediaContainer();
    m_lastSearchSettings.clear();
    m_state.mediaView->setShowEmptySetMessage(false);

    bool searched = false;
    m_listRefusal.clear();
    m_listUnread.clear();
    std::optional<CategoryNode> node = selectedCategory();
    // The list is read again on a new session when the session ends on the way, and the server
    // is waited for up to 30 seconds (shown in the status line); only a read that still failed
    // then is a failure of the list (not a thumbnail that could not be had, which leaves its cell
    // blank).
    const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
    bool unread = false;
    const auto listed = [&](const std::function<MediaList()> &read) {
        MediaList records;
        if (!OVNCatalogOpening::retried(
                *m_state.dbcon, [&] { records = read(); }, wait->status(), wait->secondsLeft()))
            unread = true;
        return records;
    };
    const auto clear = [this] {
        m_state.mediaView->setMediaContainer(nullptr);
        m_state.mediaView->setMediaContainerMID(QString());
        m_state.mediaView->setMediaContainerType(QStringLiteral(""));
    };
    if (node && m_state.dbcon) {
        // The catalog's answer of this moment decides what the category shows: a level raised or
        // lowered since the tree was loaded, or a category deleted meanwhile, counts at once.
        const std::optional<QString> refusal = categoryListRefusal(*node);
        if (refusal) {
            clear();
            m_listRefusal = *refusal;
            node.reset();
        } else {
            node = selectedCategory();
        }
        // A level that could not be asked is said by the list's own read, which fails too.
    }
    if (node && m_state.dbcon) {
        m_state.mediaView->setShowEmptySetMessage(true);
        const QString kind = node->contains(keyType) ? node->value(keyType).toString() : QStringLiteral("C");
        const QString mid = node->value(keyMid).toString();
        const bool readable = OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readOnly(), getMyPrivilegesForItem(node));
        const auto show = [&](const MediaList &records, const QString &containerMid, const QString &containerKind) {
            if (unread)
                return;
            if (!showMediaList(records))
                unread = true;
            m_state.mediaView->setMediaContainerMID(containerMid);
            m_state.mediaView->setMediaContainerType(containerKind);
            m_commands->setThumbsizeSliderEnabled(true);
        };

        if (kind == QLatin1String("EXPANDABLE")) {
            if (m_state.viewDatabaseShowThumbnails)
                show(listed([&] { return m_state.dbcon->getMediaList(QString(), kind); }), mid, kind);
            else
                clear();
        } else if (!node->contains(keyMid) || !readable) {
            // A category the user may not read shows nothing of itself.
            clear();
        } else if (kind == QLatin1String("F")) {
            QStringList collections;
            if (m_state.viewLightTableShowThumbnails && node->contains(QStringLiteral("folderitems")))
                collections = OVNCategoryNodes::collectionIds(node->value(QStringLiteral("folderitems")).toList(),
                                                              m_state.viewLightTableShowRecursive);
            if (!collections.isEmpty())
                show(listed([&] { return m_state.dbcon->getMediaListForArray(collections); }), mid, kind);
            else
                clear();
        } else if (kind == QLatin1String("I")) {
            const QString comment = node->value(QStringLiteral("comment")).toString();
            if (OVNCategoryComment::holdsDictionary(comment)) {
                const QVariantMap settings = OVNCategoryComment::dictionary(comment);
                const OVNSmartFolders::Statement made =
                    OVNSmartFolders::statement(*m_state.dbcon, settings, findCatalogs(), *wait);
                reloadMediaListWithFind(made.clause);
                if (!made.clause.isEmpty() && !made.leftOut.isEmpty())
                    setStatus(made.leftOut, false);
                // Shows nothing, and says why (the stored search names a field or value we cannot use).
                if (made.clause.isEmpty() && !made.refusal.isEmpty())
                    setStatus(made.refusal, false);
                m_lastSearchSettings = settings;
                m_tvfButtonSave->setEnabled(false);
                searched = true;
            } else {
                clear();
            }
        } else if (kind == QLatin1String("S") || kind == QLatin1String("M")) {
            initMediaViewWithTopView(kind == QLatin1String("S") ? m_topviewset : m_state.topviewsurveillance);
            m_state.mediaView->setShowEmptySetMessage(true);
            show(listed([&] { return m_state.dbcon->getMediaList(mid, kind); }), mid, kind);
        } else {
            show(listed([&] { return m_state.dbcon->getMediaList(mid, kind); }), mid, kind);
        }
        if (!searched && unread) {
            // A list that could not be read is no empty category: nothing is shown, and why.
            clear();
            m_state.mediaView->setShowEmptySetMessage(false);
            m_commands->setThumbsizeSliderEnabled(false);
            reportUnreadableList(node->value(QStringLiteral("displaytag")).toString());
            m_state.mediaView->setFocus();
            refreshActions();
            return;
        }
    }

    updateEmptyListHint();
    if (!m_listRefusal.isEmpty()) {
        setStatus(m_listRefusal.section(QLatin1Char('\n'), 0, 0), false);
        m_state.mediaView->setFocus();
        refreshActions();
        return;
    }
    if (!searched) {
        showItemCount();
        m_mediaList->update();
        m_state.mediaView->viewport()->update();
    }
    m_state.mediaView->setFocus();
    refreshActions();
}

std::optional<QString> OVNAssetManager::categoryListRefusal(const CategoryNode &node)
{
    if (!refreshGroupsForList())
        return m_excludedText;
    const QString mid = node.value(keyMid).toString();
    if (mid.isEmpty())
        return std::nullopt;
    const QString name = node.value(QStringLiteral("displaytag")).toString();
    // Through sessions that end, as the list's own read.
    const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
    const OVNCategoryNodes::ListAccess access =
        OVNCategoryNodes::listAccess(*m_state.dbcon, mid, name, wait->status(), wait->secondsLeft());
    // The tree shows and enables by this level until it is loaded again.
    OVNCategoryTreeModel::Item *item = m_state.categoryModel->itemForMid(mid);
    if (item && access.level)
        item->node.insert(CatalogNames::keyPrivileges, *access.level);
    return access.refusal;
}

void OVNAssetManager::reportUnreadableList(const QString &name)
{
    // Said only for a read that failed, after its tries: the last failure is its own.
    const bool unreachable = m_state.dbcon->lastFailure() == OVNDatabaseAccess::Failure::Unreachable;
    const QString title = localized("The entries of “%1” could not be read.").arg(name);
    setStatus(title, false);
    const QString reason = unreachable ? localized("The catalog server cannot be reached. Please check that it is "
                                                   "running and that this computer can reach it, then select the "
                                                   "category again.")
                                       : m_state.dbcon->getLastErrorMessage();
    m_listUnread =
        title + QLatin1Char(' ') + (unreachable ? localized("The catalog server cannot be reached.") : reason);
    Alerts::display(title, reason, m_state.mediaView ? m_state.mediaView->window() : this);
}

void OVNAssetManager::updateEmptyListHint()
{
    if (!m_listRefusal.isEmpty()) {
        // Why nothing is shown: no empty collection to drop files on.
        m_state.mediaView->setShowEmptySetMessage(true);
        m_state.mediaView->setEmptySetMessage(m_listRefusal);
        m_state.mediaView->viewport()->update();
        return;
    }
    const std::optional<CategoryNode> node = selectedCategory();
    const QString kind = node ? node->value(keyType).toString() : QString();
    const bool emptyCatalog = m_state.dbcon && m_internalCategoryList && m_internalCategoryList->isEmpty();
    if ((!node || kind == QLatin1String("EXPANDABLE")) && emptyCatalog) {
        m_state.mediaView->setShowEmptySetMessage(true);
        m_state.mediaView->setEmptySetMessage(
            localized("There are no media in this catalog yet.\nChoose File > Smart Add... to add files and folders,\n"
                      "or make a collection and drop files onto it."));
    } else if (node && kind == QLatin1String("EXPANDABLE") && !m_state.viewDatabaseShowThumbnails) {
        m_state.mediaView->setEmptySetMessage(
            localized("The Database item lists the catalog's entries only while\n%1 is checked.\n"
                      "Choose it to see every entry here.")
                .arg(m_commands->menuPath(OVNCatalogActions::Action::DatabaseShowThumbnails)));
    } else if (node && (kind == QLatin1String("C") || kind.isEmpty()) && node->contains(keyMid)) {
        m_state.mediaView->setEmptySetMessage(
            localized("This collection is empty.\nDrop files or folders here to add them,\n"
                      "or choose File > Smart Add... to file a folder into new collections."));
    } else {
        m_state.mediaView->setEmptySetMessage(QString());
    }
    m_state.mediaView->viewport()->update();
}

void OVNAssetManager::reloadMediaListWithFind(const QString &statement)
{
    setStatus(localized("Finding Media Preview List..."), true);
    loadPreferences();
    m_commands->setThumbsizeSliderEnabled(false);
    // A new list is shown unfiltered; the privilege answers are asked afresh for it.
    m_commands->setSearchText(QString());
    m_categoryLevels.clear();
    m_state.mediaView->setMediaContainer(nullptr);
    initMediaViewWithTopView(m_topviewfind);
    m_listRefusal.clear();
    // One wait for the command: the groups, the search and the privileges of what it found.
    const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
    if (m_state.dbcon && !refreshGroupsForList()) {
        // Nobody who can no longer use the catalog sees search results of it.
        m_listRefusal = m_excludedText;
        m_state.mediaView->setMediaContainer(std::make_shared<MediaList>());
        updateEmptyListHint();
        setStatus(m_listRefusal.section(QLatin1Char('\n'), 0, 0), false);
        refreshActions();
        return;
    }
    QString failure;
    if (m_state.dbcon && !statement.trimmed().isEmpty()) {
        // A find runs as every search does: read-only, and ended by the server at the search
        // time limit. It runs again on a new session when the session ends on the way (its
        // transaction and time limit went with it), within the command's 30 seconds.
        OVNDatabaseAccess::ReadOnlySearch found;
        OVNCatalogOpening::retried(
            *m_state.dbcon,
            [&] { found = m_state.dbcon->searchMediaListReadOnly(statement, OVNExpressSearch::defaultTimeLimitMs); },
            wait->status(), wait->secondsLeft());
        if (found.status != OVNDatabaseAccess::ReadOnlySearch::Status::Found)
            failure = found.message;
        if (!showMediaList(found.records) && failure.isEmpty())
            failure = OVNCategoryAccess::readFailure(*m_state.dbcon).title;
    } else {
        m_state.mediaView->setMediaContainer(std::make_shared<MediaList>());
    }
    m_state.mediaView->setMediaContainerMID(QString());
    m_state.mediaView->setMediaContainerType(QString());
    m_commands->setThumbsizeSliderEnabled(true);
    if (failure.isEmpty())
        showItemCount();
    else
        setStatus(failure, false);
    m_tvfButtonSave->setEnabled(true);
    m_state.mediaView->setShowEmptySetMessage(true);
    m_topviewfind->update();
    m_state.mediaView->setFocus();
    refreshActions();
}
