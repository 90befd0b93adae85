// The preferences window: its tabs, loading and saving, the viewer and icon-set settings, the
// catalog database and the media server. The file-type table editor is in
// OVNPreferencesWindow_filetypes.cpp.
#include "app/OVNPreferencesWindow.h"

#include "app/OVNCameraHotPlug.h"
#include "app/OVNConnectionFactory.h"
#include "app/OVNPreferenceBinding.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNMSAHelper.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "uikit/OVNIconSetHelper.h"
#include "uikit/OVNWindowPlacement.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const QString kVendorKey = QStringLiteral("DBVendor");
const QStringList kVendors = {QStringLiteral("Integrated"), QStringLiteral("MySQL"), QStringLiteral("PostgreSQL"),
                              QStringLiteral("OstrevanWS")};
const QStringList kDatabaseKeys = {QStringLiteral("DBHost"), QStringLiteral("DBUser"), QStringLiteral("DBPassword"),
                                   QStringLiteral("DBDatabase")};
const QStringList kServerKeys = {QStringLiteral("MSAServer"), QStringLiteral("MSAUser"), QStringLiteral("MSAPassword"),
                                 QStringLiteral("MSAVolume"), QStringLiteral("MSAImportpath")};
const QStringList kColorNames = {QStringLiteral("DBViewBackgroundColor"), QStringLiteral("PreviewBackgroundColor"),
                                 QStringLiteral("DetailsBackgroundColor"), QStringLiteral("LightTableBackgroundColor")};
constexpr qint64 kMaximumInfoFileSize = 1 << 20;

QLineEdit *makeField(QWidget *parent, bool secret = false)
{
    auto *field = new QLineEdit(parent);
    if (secret)
        field->setEchoMode(QLineEdit::Password);
    return field;
}

QComboBox *makePopUp(QWidget *parent, const QStringList &titles)
{
    auto *popUp = new QComboBox(parent);
    popUp->addItems(titles);
    return popUp;
}

QLabel *makeNote(const QString &text, QWidget *parent)
{
    auto *note = new QLabel(text, parent);
    note->setWordWrap(true);
    QFont small = note->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    note->setFont(small);
    return note;
}

// The display tag of an icon set's info.xml; empty when it has none or is unreadable.
QString iconSetDisplayTag(const QString &folder)
{
    QFile file(QDir(folder).filePath(QStringLiteral("info.xml")));
    if (file.size() > kMaximumInfoFileSize || !file.open(QIODevice::ReadOnly))
        return {};
    const QVariant root = PropertyList::read(file.readAll());
    if (root.typeId() != QMetaType::QVariantMap)
        return {};
    return root.toMap().value(QStringLiteral("displaytag")).toString();
}

} // namespace

OVNPreferencesWindow::OVNPreferencesWindow(UserDefaults &defaults, OVNConnectionFactory &factory,
                                           OVNExtensionMapping &table, QWidget *parent)
    : QWidget(parent, Qt::Window),
      m_defaults(defaults),
      m_factory(factory),
      m_table(table)
{
    setWindowTitle(localized("Preferences"));
    m_bindings = new OVNPreferenceBinding(m_defaults, this);
    connect(m_bindings, &OVNPreferenceBinding::valueChanged, this, &OVNPreferencesWindow::preferencesWritten);

    m_tabs = new QTabWidget(this);
    m_tabs->addTab(makeGeneralTab(), localized("General"));
    m_tabs->addTab(makeImportTab(), localized("Import"));
    m_tabs->addTab(makeFileTypesTab(), localized("File Types"));
    m_tabs->addTab(makeDatabaseTab(), localized("Database"));
    m_tabs->addTab(makeMediaServerTab(), localized("Media Server"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    makeFileTypeSheet();
    resize(640, 480);
}

OVNPreferencesWindow::~OVNPreferencesWindow() = default;

void OVNPreferencesWindow::setConnectionInUse(std::function<OVNDatabaseAccess *()> connection)
{
    m_connectionInUse = std::move(connection);
}

void OVNPreferencesWindow::setCameraHotPlug(OVNCameraHotPlug *registration)
{
    m_hotPlug = registration;
    reloadCameraHotPlug();
}

void OVNPreferencesWindow::setUserManagerOpener(std::function<void()> open)
{
    m_openUserManager = std::move(open);
    m_userManager->setVisible(bool(m_openUserManager));
}

void OVNPreferencesWindow::setDownloadPageOpener(std::function<void()> open)
{
    m_openDownloadPage = std::move(open);
    m_downloadPage->setVisible(bool(m_openDownloadPage));
}

// ---- The tabs ----

QWidget *OVNPreferencesWindow::makeGeneralTab()
{
    auto *tab = new QWidget;
    auto *layout = new QVBoxLayout(tab);

    auto *viewers = new QGroupBox(localized("Double-clicking a thumbnail opens the file with"), tab);
    auto *grid = new QGridLayout(viewers);
    const QStringList choices = {localized("Ostrevan's Viewer"), localized("The File's Own Application"),
                                 localized("This Application:")};
    const QString keys[2] = {QStringLiteral("DefaultViewerType"), QStringLiteral("DefaultViewerType2")};
    const QString labels[2] = {localized("Double-click:"), localized("With Ctrl or Alt:")};
    for (int i = 0; i < 2; ++i) {
        m_viewerType[i] = makePopUp(viewers, choices);
        m_viewerChooser[i] = new QPushButton(localized("Choose..."), viewers);
        m_viewerApplication[i] = makeField(viewers);
        m_viewerApplication[i]->setReadOnly(true);
        m_bindings->bind(m_viewerType[i], keys[i]);
        connect(m_viewerType[i], &QComboBox::currentIndexChanged, this, [this] { updateViewerControls(); });
        const Viewer viewer = i == 0 ? Viewer::First : Viewer::Second;
        connect(m_viewerChooser[i], &QPushButton::clicked, this, [this, viewer] { chooseApplication(viewer); });
        grid->addWidget(new QLabel(labels[i], viewers), i, 0);
        grid->addWidget(m_viewerType[i], i, 1);
        grid->addWidget(m_viewerApplication[i], i, 2);
        grid->addWidget(m_viewerChooser[i], i, 3);
    }
    grid->setColumnStretch(2, 1);
    layout->addWidget(viewers);

    auto *form = new QFormLayout;
    m_cameraHotPlug = new QComboBox(tab);
    connect(m_cameraHotPlug, &QComboBox::activated, this, [this](int index) {
        if (m_hotPlug)
            m_hotPlug->setDefaultApplication(m_cameraHotPlug->itemData(index).toString());
    });
    form->addRow(localized("When a camera is connected, open:"), m_cameraHotPlug);

    m_iconSet = new QComboBox(tab);
    auto *wells = new QHBoxLayout;
    wells->addWidget(m_iconSet, 1);
    for (int i = 0; i < kColorNames.size(); ++i) {
        auto *well = new QFrame(tab);
        well->setFrameShape(QFrame::Box);
        well->setFixedSize(22, 22);
        well->setAutoFillBackground(true);
        m_colorWells.append(well);
        wells->addWidget(well);
    }
    form->addRow(localized("Icon set:"), wells);
    form->addRow(QString(), makeNote(localized("A new icon set shows after Ostrevan is started again."), tab));
    m_downloadPage = new QPushButton(localized("Open the Download Page"), tab);
    m_downloadPage->setToolTip(localized("Opens the page with the newest version of Ostrevan in your web browser."));
    m_downloadPage->hide();
    connect(m_downloadPage, &QPushButton::clicked, this, [this] {
        if (m_openDownloadPage)
            m_openDownloadPage();
    });
    auto *updates = new QHBoxLayout;
    updates->addWidget(m_downloadPage);
    updates->addStretch(1);
    form->addRow(localized("Updates:"), updates);
    layout->addLayout(form);
    layout->addStretch(1);
    return tab;
}

QWidget *OVNPreferencesWindow::makeImportTab()
{
    auto *tab = new QWidget;
    auto *form = new QFormLayout(tab);
    auto *imageQuality = makePopUp(tab, {localized("Fast"), localized("Smooth")});
    m_bindings->bind(imageQuality, QStringLiteral("ImageThumbnailQuality"));
    form->addRow(localized("Image thumbnails:"), imageQuality);
    auto *exif = new QCheckBox(localized("Read EXIF and XMP metadata"), tab);
    m_bindings->bind(exif, QStringLiteral("ImageScanForEXIF"));
    auto *iptc = new QCheckBox(localized("Read IPTC metadata"), tab);
    m_bindings->bind(iptc, QStringLiteral("ImageScanForIPTC"));
    form->addRow(localized("At import:"), exif);
    form->addRow(QString(), iptc);

    auto *movieType = makePopUp(tab, {localized("One Frame"), localized("Four Frames")});
    m_bindings->bind(movieType, QStringLiteral("MovieThumbnailType"));
    form->addRow(localized("Movie thumbnails:"), movieType);
    auto *timings = new QHBoxLayout;
    for (int i = 1; i <= 4; ++i) {
        auto *timing = makeField(tab);
        timing->setValidator(new QIntValidator(0, 100, timing));
        timing->setMaximumWidth(60);
        m_bindings->bind(timing, QStringLiteral("MovieThumbnailTiming%1").arg(i));
        timings->addWidget(timing);
    }
    timings->addWidget(new QLabel(localized("% of the movie"), tab));
    timings->addStretch(1);
    form->addRow(localized("Frames taken at:"), timings);

    auto *viewQuality = makePopUp(tab, {localized("Low"), localized("Medium"), localized("High")});
    m_bindings->bind(viewQuality, QStringLiteral("AssetThumbnailQuality"));
    form->addRow(localized("Thumbnail drawing:"), viewQuality);
    auto *loader = new QCheckBox(localized("Load thumbnails in the background"), tab);
    m_bindings->bind(loader, QStringLiteral("AssetBackgroundLoader"));
    form->addRow(QString(), loader);
    auto *cache = makeField(tab);
    cache->setValidator(new QIntValidator(0, 10'000'000, cache));
    m_bindings->bind(cache, QStringLiteral("AssetBackgroundLoaderMaxCache"));
    form->addRow(localized("Thumbnails kept in memory:"), cache);
    return tab;
}

QWidget *OVNPreferencesWindow::makeDatabaseTab()
{
    auto *tab = new QWidget;
    auto *layout = new QVBoxLayout(tab);
    auto *form = new QFormLayout;
    m_dbVendor = makePopUp(tab, {localized("Integrated (a catalog file on this computer)"), localized("MySQL"),
                                 localized("PostgreSQL"), localized("Ostrevan Workgroup Server")});
    for (int i = 0; i < kVendors.size(); ++i)
        m_dbVendor->setItemData(i, kVendors.at(i));
    connect(m_dbVendor, &QComboBox::currentIndexChanged, this, [this] { prefDBSelectionChanged(); });
    m_dbHost = makeField(tab);
    m_dbUser = makeField(tab);
    m_dbPassword = makeField(tab, true);
    m_dbDatabase = makeField(tab);
    form->addRow(localized("Database:"), m_dbVendor);
    form->addRow(localized("Host:"), m_dbHost);
    form->addRow(localized("User:"), m_dbUser);
    form->addRow(localized("Password:"), m_dbPassword);
    form->addRow(localized("Database name:"), m_dbDatabase);
    layout->addLayout(form);
    m_dbNote = makeNote(QString(), tab);
    layout->addWidget(m_dbNote);

    auto *buttons = new QHBoxLayout;
    m_userManager = new QPushButton(localized("User Manager..."), tab);
    m_userManager->setVisible(false);
    connect(m_userManager, &QPushButton::clicked, this, [this] {
        if (m_openUserManager)
            m_openUserManager();
    });
    m_dbCreate = new QPushButton(localized("Create Tables"), tab);
    m_dbCreate->setToolTip(localized("Creates the catalog tables in the catalog Ostrevan is connected to now"));
    m_dbConnect = new QPushButton(localized("Connect"), tab);
    m_dbConnect->setToolTip(localized("Tries the settings above and uses them for every new catalog window"));
    connect(m_dbCreate, &QPushButton::clicked, this, [this] { prefDBCreateDatabase(); });
    connect(m_dbConnect, &QPushButton::clicked, this, [this] { prefDBConnect(); });
    buttons->addWidget(m_userManager);
    buttons->addStretch(1);
    buttons->addWidget(m_dbCreate);
    buttons->addWidget(m_dbConnect);
    layout->addLayout(buttons);
    layout->addStretch(1);
    return tab;
}

QWidget *OVNPreferencesWindow::makeMediaServerTab()
{
    auto *tab = new QWidget;
    auto *layout = new QVBoxLayout(tab);
    auto *form = new QFormLayout;
    m_msaProtocol = makePopUp(tab, {QStringLiteral("AFP"), QStringLiteral("SMB")});
    m_msaServer = makeField(tab);
    m_msaUser = makeField(tab);
    m_msaPassword = makeField(tab, true);
    m_msaVolume = makeField(tab);
    m_msaImportPath = makeField(tab);
    m_msaAutomount = new QCheckBox(localized("Mount the volume when a catalogued file on it is needed"), tab);
    form->addRow(localized("Protocol:"), m_msaProtocol);
    form->addRow(localized("Server:"), m_msaServer);
    form->addRow(localized("User:"), m_msaUser);
    form->addRow(localized("Password:"), m_msaPassword);
    form->addRow(localized("Volume:"), m_msaVolume);
    form->addRow(localized("Import folder:"), m_msaImportPath);
    form->addRow(QString(), m_msaAutomount);
    layout->addLayout(form);
    m_msaNote = makeNote(localized("Shares served over AFP cannot be mounted on this system; choose SMB."), tab);
    layout->addWidget(m_msaNote);
    connect(m_msaProtocol, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_msaNote->setVisible(index == 0); });
    auto *buttons = new QHBoxLayout;
    auto *mount = new QPushButton(localized("Mount"), tab);
    connect(mount, &QPushButton::clicked, this, [this] { prefMSAMountVolume(); });
    buttons->addStretch(1);
    buttons->addWidget(mount);
    layout->addLayout(buttons);
    layout->addStretch(1);
    return tab;
}

// ---- Loading and saving ----

void OVNPreferencesWindow::showPreferences()
{
    reloadPreferences();
    m_tabs->setCurrentIndex(0);
    OVNWindowPlacement::fitOnScreen(this);
    show();
    raise();
    activateWindow();
}

void OVNPreferencesWindow::reloadPreferences()
{
    reloadCameraHotPlug();

    const QString applicationKeys[2] = {QStringLiteral("DefaultViewerApplication"),
                                        QStringLiteral("DefaultViewerApplication2")};
    for (int i = 0; i < 2; ++i) {
        const QString path = m_defaults.storedStringForKey(applicationKeys[i]);
        if (!path.isEmpty())
            m_viewerApplication[i]->setText(applicationDisplayName(path));
    }

    {
        const QSignalBlocker blocker(m_dbVendor);
        m_dbVendor->setCurrentIndex(vendorIndexFor(m_defaults.storedStringForKey(kVendorKey)));
    }
    for (int i = 0; i < 4; ++i)
        m_serverFields[i] = m_defaults.storedStringForKey(kDatabaseKeys.at(i));
    m_fieldsVendor = -1;
    prefDBSelectionChanged();
    // Stored values win over the vendor's suggestions; the integrated catalog's place is fixed.
    if (m_dbVendor->currentIndex() != Integrated) {
        QLineEdit *fields[] = {m_dbHost, m_dbUser, m_dbPassword, m_dbDatabase};
        for (int i = 0; i < 4; ++i)
            fields[i]->setText(m_defaults.storedStringForKey(kDatabaseKeys.at(i)));
    }

    const QString protocol = m_defaults.storedStringForKey(QStringLiteral("MSAProtocol"));
    // AFP only where it was chosen: new preferences take SMB, the share this system can mount.
    m_msaProtocol->setCurrentIndex(
        protocol.trimmed().isEmpty() || protocol.compare(QLatin1String("SMB"), Qt::CaseInsensitive) == 0 ? 1 : 0);
    m_msaNote->setVisible(m_msaProtocol->currentIndex() == 0);
    QLineEdit *serverFields[] = {m_msaServer, m_msaUser, m_msaPassword, m_msaVolume, m_msaImportPath};
    for (int i = 0; i < 5; ++i)
        serverFields[i]->setText(m_defaults.storedStringForKey(kServerKeys.at(i)));
    // On only for exactly 1: "YES" and the like count as off, as the mount check reads it.
    m_msaAutomount->setChecked(
        UserDefaults::integerFromVariant(m_defaults.storedObjectForKey(QStringLiteral("MSAAutomount"))) == 1);

    reloadIconSets();
    for (int i = 0; i < m_colorWells.size(); ++i) {
        QPalette palette = m_colorWells[i]->palette();
        palette.setColor(QPalette::Window, OVNIconSetHelper::sharedIconSet().colorFor(kColorNames.at(i)));
        m_colorWells[i]->setPalette(palette);
        m_colorWells[i]->setToolTip(kColorNames.at(i));
    }

    m_bindings->reload();
    updateViewerControls();
    fileTypeTableChanged(true, 0);
}

bool OVNPreferencesWindow::savePreferences()
{
    bool ok = true;
    // The window shows and saves the stored settings, also for keys this run took from the command
    // line: those stay this run's.
    const auto store = [&](const QString &value, const QString &key) {
        ok = m_defaults.setStoredObject(value, key) && ok;
    };
    const QString vendor = vendorForIndex(m_dbVendor->currentIndex());
    if (!vendor.isNull())
        store(vendor, kVendorKey);
    const QLineEdit *fields[] = {m_dbHost, m_dbUser, m_dbPassword, m_dbDatabase};
    // The integrated catalog shows no server: the server's settings stay as they were kept.
    const bool integrated = m_dbVendor->currentIndex() == Integrated;
    for (int i = 0; i < 4; ++i) {
        const QString value = integrated ? m_serverFields.at(i) : fields[i]->text();
        // The registered password shown where none is stored is no password of the user's: saved,
        // it would be sent before PGPASSWORD and ~/.pgpass are asked.
        if (fields[i] == m_dbPassword && !m_defaults.persistentDomain().contains(kDatabaseKeys.at(i))
            && value == m_defaults.registeredDomain().value(kDatabaseKeys.at(i)).toString())
            continue;
        store(value, kDatabaseKeys.at(i));
    }

    store(m_msaProtocol->currentIndex() == 1 ? QStringLiteral("SMB") : QStringLiteral("AFP"),
          QStringLiteral("MSAProtocol"));
    const QLineEdit *serverFields[] = {m_msaServer, m_msaUser, m_msaPassword, m_msaVolume, m_msaImportPath};
    for (int i = 0; i < 5; ++i)
        store(serverFields[i]->text(), kServerKeys.at(i));
    store(m_msaAutomount->isChecked() ? QStringLiteral("1") : QStringLiteral("0"), QStringLiteral("MSAAutomount"));

    // Without any icon set to choose from the stored choice stays.
    if (m_iconSet->currentIndex() >= 0)
        store(m_iconSet->currentData().toString(), QStringLiteral("ColorScheme"));
    ok = m_defaults.synchronize() && ok;
    emit preferencesWritten();
    return ok;
}

void OVNPreferencesWindow::closeEvent(QCloseEvent *event)
{
    if (!savePreferences())
        tell(localized("The settings could not be saved"), localized("Your preferences file could not be written."));
    event->accept();
}

void OVNPreferencesWindow::reloadCameraHotPlug()
{
    m_cameraHotPlug->clear();
    int selected = -1;
    if (m_hotPlug) {
        const QStringList applications = m_hotPlug->applications();
        const QString current = m_hotPlug->defaultApplication();
        const auto addItem = [this](const QString &path) {
            m_cameraHotPlug->addItem(QIcon(path), applicationDisplayName(path), path);
        };
        for (const QString &path : applications) {
            addItem(path);
            if (path == current)
                selected = m_cameraHotPlug->count() - 1;
        }
        if (!current.isEmpty() && selected < 0) {
            addItem(current);
            selected = m_cameraHotPlug->count() - 1;
        }
        m_cameraHotPlug->insertSeparator(m_cameraHotPlug->count());
    }
    m_cameraHotPlug->addItem(localized("No Application"), QString());
    m_cameraHotPlug->setCurrentIndex(selected >= 0 ? selected : m_cameraHotPlug->count() - 1);
}

void OVNPreferencesWindow::reloadIconSets()
{
    m_iconSet->clear();
    const QString folder = OVNIconSetHelper::iconSetsFolder();
    if (folder.isEmpty())
        return;
    const QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString tag = iconSetDisplayTag(QDir(folder).filePath(name));
        if (tag.isEmpty())
            continue;
        // One item per title: a later set with the same title takes the item.
        const int existing = m_iconSet->findText(tag);
        if (existing >= 0)
            m_iconSet->setItemData(existing, name);
        else
            m_iconSet->addItem(tag, name);
    }
    QString wanted = m_defaults.storedStringForKey(QStringLiteral("ColorScheme"));
    if (!m_defaults.storedObjectForKey(QStringLiteral("ColorScheme")).isValid())
        wanted = QString::fromLatin1(OVNIconSetHelper::defaultIconSetName);
    const int index = m_iconSet->findData(wanted);
    if (index >= 0)
        m_iconSet->setCurrentIndex(index);
}

// ---- Viewers ----

QComboBox *OVNPreferencesWindow::viewerPopUp(Viewer viewer) const
{
    return m_viewerType[viewer == Viewer::First ? 0 : 1];
}

QPushButton *OVNPreferencesWindow::viewerChooser(Viewer viewer) const
{
    return m_viewerChooser[viewer == Viewer::First ? 0 : 1];
}

QLineEdit *OVNPreferencesWindow::viewerApplicationField(Viewer viewer) const
{
    return m_viewerApplication[viewer == Viewer::First ? 0 : 1];
}

void OVNPreferencesWindow::updateViewerControls()
{
    for (int i = 0; i < 2; ++i) {
        const bool chosen = m_viewerType[i]->currentIndex() == 2;
        m_viewerChooser[i]->setEnabled(chosen);
        m_viewerApplication[i]->setEnabled(chosen);
    }
}

QString OVNPreferencesWindow::applicationDisplayName(const QString &path)
{
    if (path.endsWith(QLatin1String(".desktop"))) {
        const Workspace::Application entry = Workspace::readDesktopEntry(path, QFileInfo(path).fileName());
        if (!entry.id.isEmpty() && !entry.name.isEmpty())
            return entry.name;
    }
    return QFileInfo(path).completeBaseName();
}

void OVNPreferencesWindow::chooseApplication(Viewer viewer)
{
    auto *dialog = new QFileDialog(this, localized("Choose an Application"), QStringLiteral("/usr/share/applications"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QFileDialog::filesSelected, this, [this, viewer](const QStringList &files) {
        if (files.size() == 1)
            setViewerApplication(viewer, files.first());
    });
    dialog->open();
}

bool OVNPreferencesWindow::setViewerApplication(Viewer viewer, const QString &path)
{
    const QFileInfo info(path);
    const bool desktopEntry = path.endsWith(QLatin1String(".desktop"))
                              && !Workspace::readDesktopEntry(path, info.fileName()).id.isEmpty();
    if (!desktopEntry && !(info.isFile() && info.isExecutable())) {
        tell(localized("This is no application"),
             localized("Please choose an application's desktop entry (such as one in /usr/share/applications) "
                       "or a program file."));
        return false;
    }
    const QString key = viewer == Viewer::First ? QStringLiteral("DefaultViewerApplication")
                                                : QStringLiteral("DefaultViewerApplication2");
    const bool written = m_defaults.setStoredObject(info.absoluteFilePath(), key);
    viewerApplicationField(viewer)->setText(applicationDisplayName(path));
    emit preferencesWritten();
    return written;
}

// ---- Database ----

int OVNPreferencesWindow::vendorIndexFor(const QString &vendor)
{
    while (m_dbVendor->count() > kVendors.size())
        m_dbVendor->removeItem(m_dbVendor->count() - 1);
    // The connection factory takes an empty vendor as the workgroup server.
    if (vendor.isEmpty())
        return OstrevanWS;
    const int index = int(kVendors.indexOf(vendor));
    if (index >= 0)
        return index;
    // A vendor this menu does not know (a newer version's, a typing error) is kept as it is.
    m_dbVendor->addItem(vendor + QStringLiteral(" ") + localized("(unknown)"), vendor);
    return m_dbVendor->count() - 1;
}

QString OVNPreferencesWindow::vendorForIndex(int index) const
{
    if (index < 0 || index >= m_dbVendor->count())
        return QString();
    return m_dbVendor->itemData(index).toString();
}

QString OVNPreferencesWindow::integratedCatalogPath() const { return m_factory.catalogFilePath(); }

void OVNPreferencesWindow::prefDBSelectionChanged()
{
    const int index = m_dbVendor->currentIndex();
    QLineEdit *fields[] = {m_dbHost, m_dbUser, m_dbPassword, m_dbDatabase};
    // What the fields showed for a server is kept, whichever vendor comes next: a switch to
    // another vendor and back loses nothing typed or saved.
    if (m_fieldsVendor >= 0 && m_fieldsVendor != Integrated) {
        for (int i = 0; i < 4; ++i)
            m_serverFields[i] = fields[i]->text();
    }
    if (index <= OstrevanWS) {
        for (int i = 0; i < 4; ++i) {
            fields[i]->setText(index == Integrated ? QString() : m_serverFields.at(i));
            fields[i]->setEnabled(index != Integrated);
        }
    }
    m_dbHost->setPlaceholderText(index == Integrated ? QString() : localized("empty for this computer's local socket"));
    if (index == Integrated)
        m_dbDatabase->setText(integratedCatalogPath());
    if (index == OstrevanWS) {
        // The workgroup server's usual names, where nothing else is given.
        if (m_dbUser->text().isEmpty())
            m_dbUser->setText(QStringLiteral("ostrevan"));
        if (m_dbDatabase->text().isEmpty())
            m_dbDatabase->setText(QStringLiteral("mediadb"));
    }
    m_fieldsVendor = index;
    updateDatabaseButtons();
}

void OVNPreferencesWindow::updateDatabaseButtons()
{
    const int index = m_dbVendor->currentIndex();
    const bool connectable = index == Integrated || index == PostgreSQL || index == OstrevanWS;
    m_dbConnect->setEnabled(connectable);
    m_dbCreate->setEnabled(connectable);
    if (index == MySQL)
        m_dbNote->setText(localized("Ostrevan has no MySQL client on this system: a MySQL catalog cannot be "
                                    "opened or created here."));
    else if (!connectable)
        m_dbNote->setText(localized("Ostrevan does not know this kind of database. The setting is kept as it is."));
    else
        m_dbNote->clear();
    m_dbNote->setVisible(!connectable);
}

OVNPreferencesWindow::ConnectResult OVNPreferencesWindow::prefDBConnect()
{
    const int index = m_dbVendor->currentIndex();
    // A server that does not answer holds the window up to the connection's time limit.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    std::unique_ptr<OVNDatabaseAccess> trial;
    if (index == Integrated) {
        trial = m_factory.createAndOpenLocalDBConnection();
    } else if (index == PostgreSQL || index == OstrevanWS) {
        if (m_dbUser->text().trimmed().isEmpty() || m_dbDatabase->text().trimmed().isEmpty()) {
            tell(localized("Please enter a user and a database"),
                 localized("A database server needs the name of the user to log in as and the name of the "
                           "database. Leave the host empty to use this computer's local socket."));
            return ConnectResult::Refused;
        }
        trial = m_factory.createAndOpenPostgreSQLDBConnection(m_dbHost->text().trimmed(), m_dbUser->text().trimmed(),
                                                              m_dbPassword->text(), m_dbDatabase->text().trimmed());
    } else {
        return ConnectResult::Refused;
    }
    // The factory told the user why the connection failed, or left it here to say why the catalog
    // is none to use; nothing is saved.
    if (!trial || !trial->isDBConnectionActive()) {
        if (!m_factory.catalogRefusal().isEmpty())
            tell(localized("Could not open the catalog"), m_factory.catalogRefusal());
        return ConnectResult::NoConnection;
    }

    bool tables = trial->checkForDatabaseSetup();
    if (!tables) {
        tables = trial->vendor() == OVNDatabaseAccess::Vendor::Integrated
                     ? OVNDBHelper::prefDBCreateLocalDatabase(*trial)
                     : OVNDBHelper::prefDBCreatePostgreSQLDatabase(*trial);
    }
    if (!tables) {
        tell(localized("Could not create Media Database"),
             localized("Database connection was established, but did not find the necessary tables and could "
                       "not create the tables either. Please check that the specified user is able to create "
                       "tables within the specified database.")
                 + QStringLiteral("\n\n") + trial->getLastErrorMessage());
        return ConnectResult::TablesMissing;
    }
    trial->closeDBConnection();
    if (!savePreferences()) {
        tell(localized("The settings could not be saved"), localized("Your preferences file could not be written."));
        return ConnectResult::Refused;
    }
    // Settings given on the command line for this run give way to the ones just tested and saved,
    // so that each new window uses them, as the message says.
    m_defaults.forgetArguments(QStringList{kVendorKey} + kDatabaseKeys);
    tell(localized("Media Database connection changed"),
         localized("Database connection was established. Catalog windows that are open keep working with "
                   "the old connection; each new window uses the new one."));
    emit databaseSettingsSaved();
    return ConnectResult::Saved;
}

bool OVNPreferencesWindow::prefDBCreateDatabase()
{
    OVNDatabaseAccess *connection = m_connectionInUse ? m_connectionInUse() : nullptr;
    if (!connection || !connection->isDBConnectionActive()) {
        tell(localized("No catalog is open"),
             localized("Ostrevan is not connected to a catalog, so there is nowhere to create the tables. "
                       "Connect tries the settings above and creates missing tables as well."));
        return false;
    }
    const bool tables = connection->vendor() == OVNDatabaseAccess::Vendor::Integrated
                            ? OVNDBHelper::prefDBCreateLocalDatabase(*connection)
                            : OVNDBHelper::prefDBCreatePostgreSQLDatabase(*connection);
    if (tables)
        tell(localized("Media Database tables are ready"),
             localized("The catalog Ostrevan is connected to has all of its tables."));
    else
        tell(localized("Could not create Media Database"),
             localized("The tables could not be created in the catalog Ostrevan is connected to. Please check "
                       "that its user is able to create tables within the database.")
                 + QStringLiteral("\n\n") + connection->getLastErrorMessage());
    return tables;
}

// ---- Media server ----

bool OVNPreferencesWindow::prefMSAMountVolume()
{
    // The mount reads the settings from the preferences: the ones on screen first.
    if (!savePreferences()) {
        tell(localized("The settings could not be saved"), localized("Your preferences file could not be written."));
        return false;
    }
    const bool wasOnline = OVNMSAHelper::isVolumeOnline();
    OVNMSAHelper helper;
    helper.setWindow(this);
    helper.setSilentMode(false);
    const bool mounted = helper.automount();
    // The helper speaks only of failures and of a volume that was there already.
    if (mounted && !wasOnline)
        tell(localized("Volume mounted"),
             localized("Your media server volume has been mounted. To unmount it again use your file manager."));
    return mounted;
}

// ---- Alerts ----

bool OVNPreferencesWindow::confirm(const QString &message)
{
    Alert alert;
    alert.message = message;
    alert.informativeText = localized("This action cannot be undone.");
    alert.buttons = {localized("Yes"), localized("No")};
    alert.modality = Alert::Modality::Window;
    alert.window = this;
    return Alerts::run(alert) == 0;
}

void OVNPreferencesWindow::tell(const QString &title, const QString &message) { Alerts::display(title, message, this); }
