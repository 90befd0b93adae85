#include "import/OVNWorkflowPanel.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNHelper.h"
#include "formats/OVNMSAHelper.h"
#include "import/OVNImportMedia.h"
#include "import/OVNPanelPosition.h"
#include "platform/FileAccess.h"
#include "platform/Localized.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "uikit/OVNWindowPlacement.h"
#include "platform/Alert.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

namespace {

QStringList localPaths(const QMimeData *mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl &url : mime->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    return paths;
}

QString picturesFolder()
{
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QDir::homePath() + QStringLiteral("/Pictures");
    return pictures;
}

// Renames, or copies and removes across file systems. Answers false when anything stayed behind.
bool moveItem(const QString &source, const QString &target)
{
    if (QFileInfo::exists(target))
        return false;
    if (QDir().rename(source, target))
        return true;
    const QFileInfo info(source);
    // A file is copied from what the walk reaches, as an import reads it: never through another
    // account's link to this account's private file.
    if (info.isSymLink() || !info.isDir())
        return FileAccess::copyThroughTemporary(source, target, FileAccess::Existing::Keep) && QFile::remove(source);
    if (!QDir().mkdir(target))
        return false;
    bool ok = true;
    const QDir dir(source);
    for (const QFileInfo &entry :
         dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        ok = moveItem(entry.filePath(), target + QLatin1Char('/') + entry.fileName()) && ok;
    return ok && QDir().rmdir(source);
}

} // namespace

// ---- OVNWorkflowFileDump ---------------------------------------------------------------------

OVNWorkflowFileDump::OVNWorkflowFileDump(QWidget *parent) : QWidget(parent)
{
    setAcceptDrops(true);
    setMinimumHeight(110);
}

void OVNWorkflowFileDump::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(m_highlighted ? QColor(Qt::blue) : QColor(Qt::lightGray));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    QFont font = painter.font();
    font.setBold(true);
    font.setPointSize(12);
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::WindowText));
    // Wraps rather than clips in a narrow panel or with a large font.
    painter.drawText(QRect(4, 30, width() - 8, 50), Qt::AlignCenter | Qt::TextWordWrap,
                     localized("Drag files here to start workflow."));
}

void OVNWorkflowFileDump::dragEnterEvent(QDragEnterEvent *event)
{
    if (localPaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    m_highlighted = true;
    update();
}

void OVNWorkflowFileDump::dragMoveEvent(QDragMoveEvent *event)
{
    if (localPaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void OVNWorkflowFileDump::dragLeaveEvent(QDragLeaveEvent *)
{
    m_highlighted = false;
    update();
}

void OVNWorkflowFileDump::dropEvent(QDropEvent *event)
{
    m_highlighted = false;
    update();
    const QStringList paths = localPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (m_delegate)
        m_delegate(paths);
}

// ---- OVNWorkflowPanel ------------------------------------------------------------------------

OVNWorkflowPanel::OVNWorkflowPanel(UserDefaults &defaults) : QWidget(nullptr, Qt::Tool), m_defaults(defaults)
{
    setWindowTitle(localized("Workflow"));
    setAttribute(Qt::WA_QuitOnClose, false);
    loadWorkflowDefinitions();

    auto *layout = new QVBoxLayout(this);
    m_table = new QListWidget(this);
    for (const QVariantMap &definition : std::as_const(m_definitions))
        m_table->addItem(definition.value(QStringLiteral("displaytag")).toString());
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setMaximumHeight(130);
    layout->addWidget(m_table);

    m_info = new QLabel(this);
    m_info->setTextFormat(Qt::PlainText);
    m_info->setWordWrap(true);
    m_info->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_info->setMinimumHeight(90);
    layout->addWidget(m_info);

    m_startViews = new QStackedWidget(this);
    m_startViews->addWidget(new QWidget(m_startViews)); // nothing selected
    m_fileDump = new OVNWorkflowFileDump(m_startViews);
    m_fileDump->setDelegate([this](const QStringList &files) { performDragWithFiles(files); });
    m_startViews->addWidget(m_fileDump);
    m_albumView = new QWidget(m_startViews);
    auto *albumLayout = new QVBoxLayout(m_albumView);
    m_albumSelection = new QComboBox(m_albumView);
    m_importButton = new QPushButton(localized("Import"), m_albumView);
    albumLayout->addWidget(m_albumSelection);
    albumLayout->addWidget(m_importButton, 0, Qt::AlignRight);
    albumLayout->addStretch();
    m_startViews->addWidget(m_albumView);
    layout->addWidget(m_startViews, 1);
    connect(m_importButton, &QPushButton::clicked, this, [this] { iivImportButtonClicked(); });
    connect(m_table, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem *> selected = m_table->selectedItems();
        selectWorkflow(selected.size() == 1 ? m_table->row(selected.first()) : -1);
    });
    selectWorkflow(-1);
    resize(340, 420);

    if (m_defaults.contains(QStringLiteral("WorkflowPanelX"))
        && m_defaults.contains(QStringLiteral("WorkflowPanelY"))) {
        const QPointF origin(m_defaults.doubleForKey(QStringLiteral("WorkflowPanelX")),
                             m_defaults.doubleForKey(QStringLiteral("WorkflowPanelY")));
        setGeometry(OVNPanelPosition::restoredContents(origin, size()));
        m_placedByContents = true;
    }
}

OVNWorkflowPanel::~OVNWorkflowPanel() = default;

void OVNWorkflowPanel::loadWorkflowDefinitions()
{
    const auto add = [this](const char *tag, const char *panel, const char *action, const QString &description) {
        m_definitions.append({{QStringLiteral("displaytag"), localized(tag)},
                              {QStringLiteral("displaypanel"), QString::fromLatin1(panel)},
                              {QStringLiteral("action"), QString::fromLatin1(action)},
                              {QStringLiteral("description"), description}});
    };
    // The copies go into a new dated folder, so the text names the folder those are made in.
    add("Import Files to Private Folder", "FileDrag", "import2private",
        localized("Copies the specified files to a new dated folder in the private image store folder (%1) "
                  "and adds all media files to a new catalog")
            .arg(QDir::toNativeSeparators(picturesFolder() + QStringLiteral("/Ostrevan/"))));
    add("Import Files to Media Server", "FileDrag", "import2ms",
        localized("Copies the specified files to the Media Server location (see Preferences) and adds all media "
                  "files to a new catalog"));
    add("Catalog CD/DVD", "FileDrag", "importremovable",
        localized("Adds a new Catalog for the specified removable media and creates entries with thumbnails for "
                  "the pictures/movies found on the removable media. The media files are not copied, only "
                  "catalogued."));
    add("Catalog iPhoto Album", "iPhotoSelection", "importiphoto",
        localized("Adds a new Catalog named after the selected photo library album and creates entries with "
                  "thumbnails, captions, comments, ratings and keywords for its pictures. The media files are "
                  "not copied, only catalogued."));
    add("Catalog media files", "FileDrag", "importremovable",
        localized("Adds a new Catalog for the specified files and folders and creates entries with thumbnails "
                  "for the media files found. The media files are not copied, only catalogued. This is also "
                  "what happens to files and folders dropped on the category list of a catalog window."));
    add("On Location QuickScan", "FileDrag", "importquickcopy",
        localized("Moves the content of a memory card to the hard disk. The images are copied to the temp area "
                  "to be added to the catalog later. This is for photographers working on location to make a "
                  "copy of the images as fast as possible and continue taking pictures."));
}

void OVNWorkflowPanel::makeKeyAndOrderFront()
{
    orderFront();
    raise();
    activateWindow();
}

void OVNWorkflowPanel::orderFrontWithoutActivating()
{
    // The window system reads the window's property when it maps the window; the attribute sets
    // it only when the window is made, and never clears it, so both are set for this showing alone.
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    winId();
    QWindow *window = windowHandle();
    if (window)
        window->setProperty("_q_showWithoutActivating", true);
    orderFront();
    if (window)
        window->setProperty("_q_showWithoutActivating", false);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void OVNWorkflowPanel::orderFront()
{
    // Placed from where it was left, it was fitted then, by its contents; fitOnScreen would take
    // their corner for the frame's and move it by the title bar's height.
    if (!m_placedByContents || isVisible())
        OVNWindowPlacement::fitOnScreen(this);
    m_placedByContents = false;
    show();
    const QList<QListWidgetItem *> selected = m_table->selectedItems();
    selectWorkflow(selected.size() == 1 ? m_table->row(selected.first()) : -1);
}

void OVNWorkflowPanel::orderOut() { hide(); }

void OVNWorkflowPanel::saveLocation()
{
    // By its contents, as it is placed: the title bar's height must not move it at each start.
    const QPointF origin = OVNPanelPosition::storedOrigin(geometry(), OVNPanelPosition::primaryScreenBottom());
    m_defaults.setDouble(origin.x(), QStringLiteral("WorkflowPanelX"));
    m_defaults.setDouble(origin.y(), QStringLiteral("WorkflowPanelY"));
}

void OVNWorkflowPanel::closeEvent(QCloseEvent *event)
{
    // Only the user's own close (the title bar's) puts it away for the next start; the program
    // ending closes every window too, and then the panel is still meant to come back.
    if (event->spontaneous())
        m_defaults.setString(QStringLiteral("0"), QStringLiteral("WorkflowPanelVisible"));
    QWidget::closeEvent(event);
}

void OVNWorkflowPanel::selectWorkflow(int row)
{
    if (row >= 0 && row < m_definitions.size()) {
        if (m_table->currentRow() != row || !m_table->item(row)->isSelected()) {
            const QSignalBlocker block(m_table);
            m_table->setCurrentRow(row);
        }
    } else {
        const QSignalBlocker block(m_table);
        m_table->clearSelection();
        row = -1;
    }
    m_info->setText(localized("Please select a Workflow Action above."));
    m_startViews->setCurrentIndex(0);
    if (row < 0)
        return;
    const QVariantMap &definition = m_definitions.at(row);
    m_info->setText(definition.value(QStringLiteral("description")).toString());
    if (definition.value(QStringLiteral("displaypanel")) == QLatin1String("FileDrag")) {
        m_fileDump->setDragAction(row);
        m_startViews->setCurrentWidget(m_fileDump);
    } else {
        fillAlbumSelection();
        m_startViews->setCurrentWidget(m_albumView);
    }
}

QString OVNWorkflowPanel::descriptionText() const { return m_info->text(); }

QWidget *OVNWorkflowPanel::startView() const
{
    return m_startViews->currentIndex() == 0 ? nullptr : m_startViews->currentWidget();
}

// ---- The photo library ------------------------------------------------------------------------

QString OVNWorkflowPanel::albumDataPath() { return picturesFolder() + QStringLiteral("/iPhoto Library/AlbumData.xml"); }

static QVariant readAlbumData()
{
    QFile file(OVNWorkflowPanel::albumDataPath());
    // A photo library larger than this is no album list one would read in the panel.
    constexpr qint64 limit = 256LL * 1024 * 1024;
    if (file.size() > limit || !file.open(QIODevice::ReadOnly))
        return {};
    return PropertyList::read(file.readAll());
}

QStringList OVNWorkflowPanel::albumNames(const QVariant &library)
{
    QStringList names;
    const QVariantList albums = library.toMap().value(QStringLiteral("List of Albums")).toList();
    for (const QVariant &album : albums)
        names.append(album.toMap().value(QStringLiteral("AlbumName")).toString());
    return names;
}

QVariantList OVNWorkflowPanel::albumItems(const QVariant &library, int index, const QString &title)
{
    const QVariantMap root = library.toMap();
    const QVariantList albums = root.value(QStringLiteral("List of Albums")).toList();
    if (index < 0 || index >= albums.size())
        return {};
    const QVariantMap album = albums.at(index).toMap();
    if (album.value(QStringLiteral("AlbumName")).toString() != title)
        return {};
    const QVariantMap images = root.value(QStringLiteral("Master Image List")).toMap();
    const QVariantMap keywords = root.value(QStringLiteral("List of Keywords")).toMap();
    QVariantList items;
    for (const QVariant &key : album.value(QStringLiteral("KeyList")).toList()) {
        const QVariantMap image = images.value(key.toString()).toMap();
        QString path = image.value(QStringLiteral("OriginalPath")).toString();
        if (path.isEmpty())
            path = image.value(QStringLiteral("ImagePath")).toString();
        if (path.isEmpty())
            continue;
        QString keywordText;
        for (const QVariant &id : image.value(QStringLiteral("Keywords")).toList()) {
            const QVariant name = keywords.value(id.toString());
            if (name.isValid())
                keywordText += name.toString() + QLatin1Char(' ');
        }
        QVariantMap item{{QStringLiteral("PATH"), path}, {QStringLiteral("KEYWORDS"), keywordText}};
        const auto copy = [&](const char *from, const char *to) {
            const QVariant value = image.value(QString::fromLatin1(from));
            if (value.isValid())
                item.insert(QString::fromLatin1(to), value);
        };
        copy("Caption", "CAPTION");
        copy("Comment", "COMMENT");
        copy("Rating", "RATING");
        items.append(item);
    }
    return items;
}

void OVNWorkflowPanel::fillAlbumSelection()
{
    m_albumSelection->clear();
    m_albumSelection->addItems(albumNames(readAlbumData()));
}

void OVNWorkflowPanel::iivImportButtonClicked()
{
    const QString title = m_albumSelection->currentText();
    const QVariant library = readAlbumData();
    const int index = m_albumSelection->currentIndex();
    if (index < 0 || albumNames(library).value(index) != title)
        return;
    const QVariantList items = albumItems(library, index, title);
    const QString categoryId = newCategory(title);
    if (!categoryId.isEmpty())
        startImport(items, categoryId, {}, {});
}

// ---- Running a workflow ----------------------------------------------------------------------

QString OVNWorkflowPanel::newCategory(const QString &name)
{
    std::shared_ptr<OVNDatabaseAccess> connection(m_connections ? m_connections() : nullptr);
    m_connection = connection;
    const QString id = connection ? connection->addCategoryListEntry(name) : QString();
    if (id.isEmpty()) {
        Alerts::display(localized("Failed to create category"),
                        localized("The category \"%1\" could not be added to the catalog.").arg(name), this);
        return {};
    }
    NotificationCenter::defaultCenter().postNotification(QStringLiteral("OVNNotificationCategoryListDidChange"),
                                                         {{QStringLiteral("action"), QStringLiteral("add")}});
    return id;
}

void OVNWorkflowPanel::startImport(const QVariantList &files, const QString &categoryId, const QString &destination,
                                   const QString &volume)
{
    // Parented to the panel, which lives for the whole program; the import deletes itself at its end.
    auto *import = new OVNImportMedia(this);
    // The worker opens its own connections to the catalog the category was made in, on its thread.
    const std::shared_ptr<OVNDatabaseAccess> connection = m_connection;
    import->setConnectionMaker([connection] { return connection->openSiblingConnection();
});
if (!destination.isEmpty()) {
    import->setDestinationFolder(destination);
    import->setCopyOnProcess(true);
}
if (!volume.isEmpty()) {
    import->setProcessAsRemovable(true);
    import->setVolumeName(volume);
    import->setVolumeType(QStringLiteral("removable"));
}
import->processFiles(files, categoryId, this);
}

void OVNWorkflowPanel::quickScan(const QStringList &files)
{
    const QString folder = OVNHelper::createPictureImportFolder();
    const QString title = localized("File move failed");
    const QString message = localized("Could not move files from source location to local picture folder.");
    if (!QFileInfo(folder).isDir()) {
        Alerts::display(title, message + QLatin1Char('\n') + folder, this);
        return;
    }
    QStringList failed;
    for (const QString &file : files) {
        const QString source = QDir::cleanPath(file);
        const QString target = QDir::cleanPath(folder + QLatin1Char('/') + QFileInfo(source).fileName());
        if (!moveItem(source, target))
            failed.append(source);
    }
    if (!failed.isEmpty())
        Alerts::display(title, message + QLatin1Char('\n') + Alerts::namedList(failed), this);
}

void OVNWorkflowPanel::performDragWithFiles(const QStringList &files)
{
    const int row = m_table->currentRow();
    if (files.isEmpty() || row < 0 || row >= m_definitions.size() || !m_table->item(row)->isSelected()) {
        QApplication::beep();
        return;
    }
    const QString action = m_definitions.at(row).value(QStringLiteral("action")).toString();
    if (action == QLatin1String("importquickcopy")) {
        quickScan(files);
        return;
    }
    if (action == QLatin1String("import2ms") && !OVNMSAHelper::isVolumeOnline()) {
        if (!OVNMSAHelper::isAutomountEnabled()) {
            Alerts::display(
                localized("Media Server not available"),
                localized("The specified Media Server Volume could not be located and automount is turned off. "
                          "Please check that your Media Server is online and mount the specified Volume or turn "
                          "on automount with Preferences -> Media Server."),
                this);
            return;
        }
        OVNMSAHelper helper;
        helper.setSilentMode(false);
        helper.setWindow(this);
        if (!helper.automount())
            return;
    }

    const QFileInfo first(files.first());
    QString name = QStringLiteral("drag");
    if (first.isDir())
        name = first.fileName();
    QString volume;
    if (action == QLatin1String("importremovable")) {
        volume = OVNHelper::getVolumeForPath(first.absoluteFilePath());
        if (!volume.isEmpty())
            name = volume;
    }
    if (name.isEmpty())
        name = QStringLiteral("drag");
    QVariantList items;
    for (const QString &file : files)
        items.append(file);

    if (action == QLatin1String("import2ms")) {
        // Made before the category, so that a server without room for it leaves no empty category.
        const QString destination = OVNHelper::createImportFolderAtLocation(OVNMSAHelper::msaPath());
        if (!QFileInfo(destination).isDir()) {
            Alerts::display(localized("Failed to create import folder"),
                            localized("Could not create import folder on the specified Media Server."), this);
            return;
        }
        const QString categoryId = newCategory(name);
        if (!categoryId.isEmpty())
            startImport(items, categoryId, destination, {});
        return;
    }
    const QString categoryId = newCategory(name);
    if (categoryId.isEmpty())
        return;
    if (action == QLatin1String("import2private"))
        startImport(items, categoryId, OVNHelper::createPictureImportFolder(), {});
    else
        startImport(items, categoryId, {}, volume);
}
