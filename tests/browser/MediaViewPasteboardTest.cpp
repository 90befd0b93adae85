// The thumbnail view's clipboard, drops, drag-out and context menu.
#include "MediaViewTestSupport.h"

#include "browser/OVNMediaPasteboard.h"
#include "browser/OVNPasteboardTypes.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

namespace {

using Operation = OVNMediaPasteboard::Operation;
const QByteArray ourCatalog = OVNMediaPasteboard::catalogIdentity("Integrated:/home/a/MediaDB.sqlite");
const QByteArray otherCatalog = OVNMediaPasteboard::catalogIdentity("Integrated:/home/b/MediaDB.sqlite");
const QByteArray twoIds = PropertyList::writeXml(QVariantList{"m1", "m2"});

// A drag as the view writes it (or a hostile one, by hand).
struct Drag {
    const char *kind = nullptr; // source kind; none: no media formats
    const char *source = "source";
    QByteArray catalog = ourCatalog;
    QByteArray ids = twoIds;
    QList<QUrl> urls;
};

std::unique_ptr<QMimeData> mimeOf(const Drag &drag)
{
    auto data = std::make_unique<QMimeData>();
    if (drag.kind) {
        data->setData(OVNPasteboardTypes::mediaMid(), drag.ids);
        data->setData(OVNPasteboardTypes::sourceCatalogMid(), drag.source);
        data->setData(OVNPasteboardTypes::mediaContainerType(), drag.kind);
        if (!drag.catalog.isNull())
            data->setData(OVNPasteboardTypes::catalogIdentity(), drag.catalog);
    }
    if (!drag.urls.isEmpty())
        data->setUrls(drag.urls);
    return data;
}

const QList<QUrl> files{QUrl::fromLocalFile("/m/a.jpg"), QUrl::fromLocalFile("/m/b.jpg")};

} // namespace

TEST(MediaDropTest, TheOperationFollowsTheKindsThePrivilegesAndTheCatalog)
{
    struct Case {
        const char *what;
        Drag drag;
        OVNMediaPasteboard::Target target;
        Operation expected;
    };
    const OVNMediaPasteboard::Target collection{"target", "C", true};
    const OVNMediaPasteboard::Target set{"target", "S", true};
    const QByteArray tooLong = PropertyList::writeXml(QVariantList{QString(61, QLatin1Char('x'))});
    const Case cases[] = {
        {"collection onto collection", {"C"}, collection, Operation::Move},
        {"collection onto set", {"C"}, set, Operation::Link},
        {"collection onto surveillance folder", {"C"}, {"target", "M", true}, Operation::None},
        {"collection onto folder, with files",
         {"C", "source", ourCatalog, twoIds, files},
         {"target", "F", true},
         Operation::None},
        {"set onto collection", {"S"}, collection, Operation::None},
        {"set onto set", {"S"}, set, Operation::Link},
        {"onto the category they come from", {"C", "target", ourCatalog, twoIds, files}, collection, Operation::None},
        {"onto a view without a category",
         {"C", "source", ourCatalog, twoIds, files},
         {"", "C", true},
         Operation::None},
        {"onto a view never given a kind",
         {"C", "source", ourCatalog, twoIds, files},
         {"target", "", true},
         Operation::None},
        {"onto a category the user may not change",
         {nullptr, "", {}, {}, files},
         {"target", "C", false},
         Operation::None},
        {"files from a file manager", {nullptr, "", {}, {}, files}, collection, Operation::Copy},
        {"files onto a set", {nullptr, "", {}, {}, files}, set, Operation::Copy},
        {"nothing but a web address",
         {nullptr, "", {}, {}, {QUrl("https://example.org/a.jpg")}},
         collection,
         Operation::None},
        {"the whole catalog's media with files",
         {"EXPANDABLE", "", ourCatalog, twoIds, files},
         collection,
         Operation::Copy},
        {"a folder's media with files", {"F", "source", ourCatalog, twoIds, files}, set, Operation::Copy},
        {"the whole catalog's media without files", {"EXPANDABLE", ""}, collection, Operation::None},
        // Ids of another catalog are never moved or linked: their files are added, or nothing.
        {"another catalog's collection with files",
         {"C", "source", otherCatalog, twoIds, files},
         collection,
         Operation::Copy},
        {"another catalog's set with files", {"S", "source", otherCatalog, twoIds, files}, set, Operation::Copy},
        {"another catalog's collection without files", {"C", "source", otherCatalog}, collection, Operation::None},
        {"a catalog not named, with files", {"C", "source", QByteArray(), twoIds, files}, collection, Operation::Copy},
        {"a catalog not named, its own category",
         {"C", "target", QByteArray(), twoIds, files},
         collection,
         Operation::Copy},
        // Hostile id lists count as no media at all.
        {"an id too long", {"C", "source", ourCatalog, tooLong, files}, collection, Operation::Copy},
        {"ids that are no list",
         {"C", "source", ourCatalog, PropertyList::writeXml(QString("m1"))},
         collection,
         Operation::None},
        {"ids that are no property list",
         {"C", "source", ourCatalog, "<plist><array><string>m1"},
         collection,
         Operation::None},
        {"an empty id list", {"C", "source", ourCatalog, PropertyList::writeXml(QVariantList{})}, set, Operation::None},
    };
    for (const Case &c : cases) {
        const std::unique_ptr<QMimeData> data = mimeOf(c.drag);
        const OVNMediaPasteboard::Payload payload = OVNMediaPasteboard::read(data.get(), ourCatalog);
        EXPECT_EQ(OVNMediaPasteboard::dropOperation(payload, c.target), c.expected) << c.what;
    }

    // What a drop hands on: the ids in order, local files, and the web addresses it skipped.
    Drag mixed{"C"};
    mixed.urls = {QUrl::fromLocalFile("/m/a.jpg"), QUrl("https://example.org/b.jpg"), QUrl("file://elsewhere/x.jpg"),
                  QUrl("file:relative.jpg"), QUrl::fromLocalFile("/m/c d.jpg")};
    const OVNMediaPasteboard::Payload payload = OVNMediaPasteboard::read(mimeOf(mixed).get(), ourCatalog);
    EXPECT_TRUE(payload.media);
    EXPECT_EQ(payload.mids, (QStringList{"m1", "m2"}));
    EXPECT_EQ(payload.paths, (QStringList{"/m/a.jpg", "/m/c d.jpg"}));
    EXPECT_EQ(payload.skipped,
              (QStringList{"https://example.org/b.jpg", "file://elsewhere/x.jpg", "file:relative.jpg"}));

    // Files as GNOME's file managers copy them.
    QMimeData copied;
    copied.setData(OVNPasteboardTypes::gnomeCopiedFiles(), "copy\nfile:///m/a.jpg\nfile:///m/c%20d.jpg\n");
    EXPECT_EQ(OVNMediaPasteboard::read(&copied, ourCatalog).paths, (QStringList{"/m/a.jpg", "/m/c d.jpg"}));
}

namespace {

class DropDelegate : public CountingDelegate
{
public:
    DropDelegate()
        : CountingDelegate(ThumbnailData | SelectionDidChange | UserAuthorization | ContainerAccess | AddFiles
                           | MoveMids | LinkMids | RelinkSelection | TakesFiles)
    {}
    bool isUserAuthorizedForAccessCurrentSelectionWithType(const QString &, bool) override { return entriesWritable; }
    bool isUserAuthorizedForAccessMediaContainerWithType(OVNMediaView *, const QString &level) override
    {
        ++containerChecks;
        EXPECT_EQ(level, "READ & WRITE");
        return containerWritable;
    }
    bool ovnMediaViewAddFiles(OVNMediaView *, const QStringList &paths, const QStringList &skipped) override
    {
        added.append(paths);
        skippedUrls.append(skipped);
        return catalogues;
    }
    void ovnMediaViewMoveMids(OVNMediaView *, const QStringList &mids, const QString &from, const QString &to) override
    {
        moved.append({mids.join(','), from, to});
    }
    void ovnMediaViewLinkMids(OVNMediaView *, const QStringList &mids, const QString &to) override
    {
        linked.append({mids.join(','), to});
    }
    bool ovnMediaViewTakesFiles(OVNMediaView *, const QStringList &paths) override
    {
        asked.append(paths);
        return takes;
    }
    bool entriesWritable = true;
    bool takes = true; // what the delegate answers while files are dragged over the view
    QList<QStringList> asked;
    bool containerWritable = true;
    bool catalogues = true; // what the delegate answers for added files
    int containerChecks = 0;
    QList<QStringList> added;
    QList<QStringList> skippedUrls;
    QList<QStringList> moved;
    QList<QStringList> linked;
};

// Three items with files in a temporary folder (the third one missing) in a collection.
class MediaViewPasteboard : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UserDefaults::standard().removeObjectForKey("DNDIncludeFilename");
        UserDefaults::standard().removeObjectForKey("DNDIncludeThumbnail");
        auto list = std::make_shared<MediaList>();
        for (int i = 0; i < 3; ++i) {
            const QString path = dir.filePath(QStringLiteral("IMG_%1.jpg").arg(i));
            if (i < 2) {
                QFile file(path);
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                file.write(smallJpeg());
            }
            list->append(makeRecord(QStringLiteral("IMG_%1.jpg").arg(i), QStringLiteral("m%1").arg(i),
                                    {{"absolutepath", path}, {"categoryid", "here"}}));
        }
        view.setDelegate(&delegate);
        view.setCatalogIdentity(ourCatalog);
        view.setThumbnailWidth(100);
        view.resize(455, 320);
        view.setMediaContainer(list);
        view.setMediaContainerMID("here");
        view.setMediaContainerType("C");
        view.show();
    }
    QString path(int row) const { return view.filenameForRow(row); }

    // A drag that enters, moves over the view three times and is dropped.
    bool drop(const QMimeData *data, Qt::DropAction *shown = nullptr)
    {
        const QPoint at = view.viewport()->rect().center();
        const Qt::DropActions offered = Qt::CopyAction | Qt::LinkAction;
        QDragEnterEvent enter(at, offered, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &enter);
        if (!enter.isAccepted())
            return false;
        for (int i = 0; i < 3; ++i) {
            QDragMoveEvent move(at + QPoint(i, i), offered, data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(view.viewport(), &move);
        }
        if (shown)
            *shown = enter.dropAction();
        QDropEvent dropped(at, offered, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &dropped);
        return dropped.isAccepted();
    }

    QTemporaryDir dir;
    DropDelegate delegate;
    OVNMediaView view;
};

QStringList titlesOf(const QMenu &menu)
{
    QStringList titles;
    for (const QAction *action : menu.actions())
        titles.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return titles;
}

} // namespace

TEST_F(MediaViewPasteboard, DropsMoveLinkOrAddAndAskTheTargetOncePerDrag)
{
    // From another collection of this catalog: moved, the target asked once for the whole drag.
    EXPECT_TRUE(
        drop(mimeOf({"C", "elsewhere", ourCatalog, PropertyList::writeXml(QVariantList{"x1", "x2"}), files}).get()));
    EXPECT_EQ(delegate.containerChecks, 1);
    EXPECT_EQ(delegate.moved, (QList<QStringList>{{"x1,x2", "elsewhere", "here"}}));
    EXPECT_TRUE(delegate.added.isEmpty());
    EXPECT_EQ(view.currentDragOperation(), Operation::None);

    // The same ids from a window on another catalog: only their files are added.
    Drag foreign{"C", "elsewhere", otherCatalog, PropertyList::writeXml(QVariantList{"x1"}), files};
    foreign.urls.append(QUrl("https://example.org/c.jpg"));
    Qt::DropAction shown = Qt::IgnoreAction;
    EXPECT_TRUE(drop(mimeOf(foreign).get(), &shown));
    EXPECT_EQ(shown, Qt::CopyAction);
    EXPECT_EQ(delegate.moved.size(), 1);
    EXPECT_EQ(delegate.added, (QList<QStringList>{{"/m/a.jpg", "/m/b.jpg"}}));
    EXPECT_EQ(delegate.skippedUrls, (QList<QStringList>{{"https://example.org/c.jpg"}}));

    // Without files it is refused; so is everything where the user may not change the category.
    EXPECT_FALSE(drop(mimeOf({"C", "elsewhere", otherCatalog}).get()));
    delegate.containerWritable = false;
    EXPECT_FALSE(drop(mimeOf({nullptr, "", {}, {}, files}).get()));
    EXPECT_EQ(delegate.added.size(), 1);

    // Onto a set, media of a collection are linked.
    delegate.containerWritable = true;
    view.setMediaContainerType("S");
    EXPECT_TRUE(drop(mimeOf({"C", "elsewhere"}).get()));
    EXPECT_EQ(delegate.linked, (QList<QStringList>{{"m1,m2", "here"}}));
}

// Files are catalogued where they are: the source hears a copy while the pointer is over the view
// and at the drop when they are catalogued, and nothing when the delegate refuses them, over the
// view or at the drop; never a move, which would let it delete the files. A source that offers no
// copy is not taken at all.
TEST_F(MediaViewPasteboard, AFileDropAnswersCopyWhenCataloguedAndNothingOtherwise)
{
    const struct {
        const char *name;
        Qt::DropActions offered;
        bool takes;      // the delegate's answer over the view
        bool catalogues; // its answer at the drop
        Qt::DropAction over;
        Qt::DropAction answered;
    } cases[] = {
        {"copy and move offered, catalogued", Qt::CopyAction | Qt::MoveAction, true, true, Qt::CopyAction,
         Qt::CopyAction},
        {"copy offered, catalogued", Qt::CopyAction, true, true, Qt::CopyAction, Qt::CopyAction},
        {"copy offered, refused at the drop", Qt::CopyAction | Qt::MoveAction, true, false, Qt::CopyAction,
         Qt::IgnoreAction},
        {"copy offered, refused over the view", Qt::CopyAction | Qt::MoveAction, false, true, Qt::IgnoreAction,
         Qt::IgnoreAction},
        {"move only, would be catalogued", Qt::MoveAction, true, true, Qt::IgnoreAction, Qt::IgnoreAction},
        {"move only, refused", Qt::MoveAction, false, false, Qt::IgnoreAction, Qt::IgnoreAction},
        {"link only", Qt::LinkAction, true, true, Qt::IgnoreAction, Qt::IgnoreAction},
    };
    const QPoint at = view.viewport()->rect().center();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        delegate.takes = c.takes;
        delegate.catalogues = c.catalogues;
        delegate.added.clear();
        delegate.asked.clear();
        const std::unique_ptr<QMimeData> data = mimeOf({nullptr, "", {}, {}, files});
        // As a window system delivers it: the proposed action is the source's own (a move first).
        QDragEnterEvent enter(at, c.offered, data.get(), Qt::LeftButton, Qt::NoModifier);
        enter.setDropAction(c.offered & Qt::MoveAction ? Qt::MoveAction : Qt::CopyAction);
        QCoreApplication::sendEvent(view.viewport(), &enter);
        EXPECT_EQ(enter.isAccepted(), c.over != Qt::IgnoreAction);
        EXPECT_EQ(enter.isAccepted() ? enter.dropAction() : Qt::IgnoreAction, c.over);
        // Moves reach the view only after it took the enter, pre-accepted with its last answer.
        if (enter.isAccepted()) {
            QDragMoveEvent move(at + QPoint(2, 2), c.offered, data.get(), Qt::LeftButton, Qt::NoModifier);
            move.setDropAction(enter.dropAction());
            move.accept();
            QCoreApplication::sendEvent(view.viewport(), &move);
            EXPECT_TRUE(move.isAccepted());
            EXPECT_EQ(move.dropAction(), c.over);
        }
        // The delegate is asked only about a source that offers a copy (again only now and then).
        EXPECT_EQ(delegate.asked.isEmpty(), !(c.offered & Qt::CopyAction));
        if (!delegate.asked.isEmpty()) {
            EXPECT_EQ(delegate.asked.first(), (QStringList{"/m/a.jpg", "/m/b.jpg"}));
        }
        // A drop after a refusal over the view (a window system would not send one) does nothing.
        QDropEvent dropped(at, c.offered, data.get(), Qt::LeftButton, Qt::NoModifier);
        dropped.setDropAction(Qt::MoveAction);
        QCoreApplication::sendEvent(view.viewport(), &dropped);
        EXPECT_EQ(delegate.added.size(), c.over != Qt::IgnoreAction ? 1 : 0);
        EXPECT_EQ(dropped.isAccepted() ? dropped.dropAction() : Qt::IgnoreAction, c.answered);
        EXPECT_EQ(dropped.isAccepted(), c.answered != Qt::IgnoreAction);
    }
}

TEST_F(MediaViewPasteboard, CopyWritesTheSelectionInSelectionOrderAndPasteAddsLocalFiles)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    auto marker = std::make_unique<QMimeData>();
    marker->setText("before");
    clipboard->setMimeData(marker.release());
    EXPECT_EQ(view.filteredcopy(), 0);
    EXPECT_EQ(clipboard->mimeData()->text(), "before");

    view.selectImage(2, false);
    view.selectImage(0, false);
    EXPECT_EQ(view.filteredcopy(), 2);
    const QMimeData *copied = clipboard->mimeData();
    EXPECT_EQ(copied->urls(), (QList<QUrl>{QUrl::fromLocalFile(path(2)), QUrl::fromLocalFile(path(0))}));
    EXPECT_EQ(PropertyList::read(copied->data(OVNPasteboardTypes::mediaMid())), (QVariantList{"m2", "m0"}));
    EXPECT_EQ(copied->data(OVNPasteboardTypes::sourceCatalogMid()), "here");
    EXPECT_EQ(copied->data(OVNPasteboardTypes::mediaContainerType()), "C");
    EXPECT_EQ(copied->data(OVNPasteboardTypes::gnomeCopiedFiles()),
              "copy\n" + QUrl::fromLocalFile(path(2)).toEncoded() + "\n" + QUrl::fromLocalFile(path(0)).toEncoded());
    EXPECT_FALSE(copied->hasImage());
    UserDefaults::standard().setInteger(1, "DNDIncludeThumbnail");
    view.filteredcopy();
    EXPECT_TRUE(clipboard->mimeData()->hasImage());

    // Paste hands on the files, local ones to add and the others to name.
    auto pasted = std::make_unique<QMimeData>();
    pasted->setUrls({QUrl::fromLocalFile("/m/a.jpg"), QUrl("ftp://example.org/b.jpg")});
    clipboard->setMimeData(pasted.release());
    view.filteredpaste();
    EXPECT_EQ(delegate.added, QList<QStringList>{{"/m/a.jpg"}});
    EXPECT_EQ(delegate.skippedUrls, QList<QStringList>{{"ftp://example.org/b.jpg"}});
}

TEST_F(MediaViewPasteboard, ADragCarriesEntriesOnlyWhereTheirCategoriesAllowIt)
{
    view.selectImage(1, false);
    view.selectImage(0, false);
    std::unique_ptr<QMimeData> data = view.dragContents(0);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->urls(), (QList<QUrl>{QUrl::fromLocalFile(path(1)), QUrl::fromLocalFile(path(0))}));
    EXPECT_TRUE(data->hasFormat(OVNPasteboardTypes::mediaMid()));
    EXPECT_FALSE(data->hasImage());

    // Without "READ & WRITE" on the entries the files go, the entries do not.
    delegate.entriesWritable = false;
    data = view.dragContents(0);
    ASSERT_TRUE(data);
    EXPECT_TRUE(data->hasUrls());
    EXPECT_FALSE(data->hasFormat(OVNPasteboardTypes::mediaMid()));
    EXPECT_FALSE(data->hasFormat(OVNPasteboardTypes::catalogIdentity()));

    // Nothing to carry, no drag; the thumbnail alone when it is asked for.
    UserDefaults::standard().setInteger(0, "DNDIncludeFilename");
    EXPECT_EQ(view.dragContents(0), nullptr);
    UserDefaults::standard().setInteger(1, "DNDIncludeThumbnail");
    data = view.dragContents(0);
    ASSERT_TRUE(data);
    EXPECT_TRUE(data->hasImage());
    EXPECT_FALSE(data->hasUrls());
}

TEST_F(MediaViewPasteboard, TheContextMenuHasThreeVariantsAndOnlyRelinkingForAMissingFile)
{
    // The desktop's applications come from a folder of the test's own.
    QTemporaryDir xdg;
    const QByteArray savedHome = qgetenv("XDG_DATA_HOME");
    const QByteArray savedDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_HOME", xdg.filePath("data").toUtf8());
    qputenv("XDG_DATA_DIRS", xdg.filePath("system").toUtf8());
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_DATA_HOME", savedHome);
        qputenv("XDG_DATA_DIRS", savedDirs);
    });
    QDir().mkpath(xdg.filePath("system"));
    QFile::link("/usr/share/mime", xdg.filePath("system/mime"));
    QDir().mkpath(xdg.filePath("data/applications"));
    QFile entry(xdg.filePath("data/applications/viewer.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Picture Viewer\nExec=viewer %f\nMimeType=image/jpeg;\n");
    entry.close();

    // A click on an item that is not selected selects it alone.
    view.selectImage(0);
    const QPointF second = view.imageRect(1).center();
    std::unique_ptr<QMenu> menu = view.menuForEvent(second);
    EXPECT_EQ(view.selectedRows(), QList<int>{1});
    EXPECT_EQ(view.launchRow(), 1);
    EXPECT_EQ(titlesOf(*menu), (QStringList{"Refresh", "-", "Reveal in File Manager", "-", "Re-Import Media File",
                                            "Re-Link Media File...", "-", "Open with Media Viewer",
                                            "Open with Default Application", "-", "Rating", "-", "Picture Viewer"}));
    // Actions the delegate does not answer are shown disabled.
    EXPECT_FALSE(menu->actions().at(4)->isEnabled());
    EXPECT_TRUE(menu->actions().at(5)->isEnabled());
    const QMenu *rating = menu->actions().at(10)->menu();
    ASSERT_NE(rating, nullptr);
    EXPECT_EQ(titlesOf(*rating), (QStringList{"No Rating", "1", "2", "3", "4", "5"}));

    view.setMenuForEventType(1);
    EXPECT_EQ(titlesOf(*view.menuForEvent(second)),
              (QStringList{"Refresh", "-", "Reveal in File Manager", "-", "Open with Media Viewer",
                           "Open with Default Application", "-", "Rating", "-", "Picture Viewer"}));
    view.setMenuForEventType(2);
    EXPECT_EQ(titlesOf(*view.menuForEvent(second)), (QStringList{"Refresh", "-", "Rating"}));

    // A missing file offers re-linking alone, in every variant.
    const QStringList missing{"Refresh", "-", "Media file not found.", "-", "Re-Link Media File..."};
    for (int variant : {0, 1, 2}) {
        view.setMenuForEventType(variant);
        menu = view.menuForEvent(view.imageRect(2).center());
        EXPECT_EQ(titlesOf(*menu), missing) << variant;
        EXPECT_FALSE(menu->actions().at(2)->isEnabled());
    }
    // On empty space: the selection is cleared and only Refresh is offered.
    EXPECT_EQ(titlesOf(*view.menuForEvent(QPointF(440, 300))), QStringList{"Refresh"});
    EXPECT_EQ(view.numberOfSelectedRows(), 0);
}
