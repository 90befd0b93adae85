#pragma once

#include "formats/FileTypeEntry.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class OVNCameraHotPlug;
class OVNConnectionFactory;
class OVNDatabaseAccess;
class OVNExtensionMapping;
class OVNFileTypeTableModel;
class OVNPreferenceBinding;
class QCheckBox;
class QComboBox;
class QDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class QTableView;
class QToolButton;
class UserDefaults;

// The preferences window: how a double-click opens media, the icon set, the import and thumbnail
// settings, the file-type table, the catalog database and the media server. Made once by the
// application controller and kept for the program's life: closing hides it and saves the settings
// it loads by hand (below); the bound controls and the file-type table are saved at every change.
//
// Keys loaded and saved by hand: "DBVendor", "DBHost", "DBUser", "DBPassword", "DBDatabase",
// "MSAProtocol", "MSAServer", "MSAUser", "MSAPassword", "MSAVolume", "MSAImportpath",
// "MSAAutomount" and "ColorScheme"; the application choosers store "DefaultViewerApplication" and
// "DefaultViewerApplication2" when an application is chosen. The window shows the stored values,
// not those given as "-Key Value" on the command line for one run, so that closing it stores
// nothing the user did not choose in it.
class OVNPreferencesWindow : public QWidget
{
    Q_OBJECT
public:
    // Vendor pop-up items, by index; a stored vendor the menu does not know gets an item after
    // these, shown and written back as it is.
    enum VendorItem { Integrated = 0, MySQL = 1, PostgreSQL = 2, OstrevanWS = 3 };
    enum class Viewer { First, Second };

    // The factory gives trial connections for Connect; `table` is the controller's file-type
    // table, which every edit here saves.
    OVNPreferencesWindow(UserDefaults &defaults, OVNConnectionFactory &factory, OVNExtensionMapping &table,
                         QWidget *parent = nullptr);
    ~OVNPreferencesWindow() override;

    // The connection in use, which Create works on.
    void setConnectionInUse(std::function<OVNDatabaseAccess *()> connection);
    // The camera hot-plug registration; none leaves "No Application" alone in its pop-up.
    void setCameraHotPlug(OVNCameraHotPlug *registration);
    // Opens the user manager; none leaves its button out.
    void setUserManagerOpener(std::function<void()> open);
    // What the General tab's download-page button does; without it the button is hidden.
    void setDownloadPageOpener(std::function<void()> open);

    // Loads the settings, selects the first tab and brings the window to the front.
    void showPreferences();
    // Fills every hand-loaded control from the preferences, and the bound ones.
    void reloadPreferences();
    // Writes every hand-saved key; false when the preferences file could not be written.
    bool savePreferences();

    // ---- Viewers ----
    // Opens the application chooser (in /usr/share/applications) for one of the two settings.
    void chooseApplication(Viewer viewer);
    // Stores a chosen desktop entry or program; false (after telling the user) for anything else.
    bool setViewerApplication(Viewer viewer, const QString &path);
    // The name the viewer field shows for a stored application path.
    static QString applicationDisplayName(const QString &path);

    // ---- Database ----
    enum class ConnectResult { Saved, Refused, NoConnection, TablesMissing };
    // Sets the four fields for the selected vendor.
    void prefDBSelectionChanged();
    // Tests the entered settings with a trial connection, creates missing tables and saves.
    ConnectResult prefDBConnect();
    // Creates the catalog tables on the connection in use; true when they are there afterwards.
    bool prefDBCreateDatabase();
    // What the database field shows for "Integrated": the local catalog file.
    QString integratedCatalogPath() const;

    // ---- Media server ----
    // Saves, then mounts the media server; true when it is mounted afterwards.
    bool prefMSAMountVolume();

    // ---- File types ----
    // The row sheet opens for a new row or the selected one; Save on it stores the row.
    void addFileType();
    void editFileType();
    void duplicateFileType();
    void deleteFileType();                // after a confirmation
    void moveFileType(int delta);         // -1 up, +1 down
    void resetFileTypes(bool olderTable); // after a confirmation
    int selectedFileTypeRow() const;
    void selectFileTypeRow(int row);
    // The row sheet's Save: the row as typed, when it is acceptable (false and a message when not).
    bool saveFileTypeSheet();
    // The row the sheet would store now.
    FileTypeEntry fileTypeFromSheet() const;
    void loadFileTypeSheet(const FileTypeEntry &row);
    // Extension as look-ups need it: trimmed, lower case, without dots before it.
    static QString normalizedExtension(const QString &typed);

    // Controls, for tests and the probe.
    QTabWidget *tabs() const { return m_tabs; }
    QComboBox *viewerPopUp(Viewer viewer) const;
    QPushButton *viewerChooser(Viewer viewer) const;
    QLineEdit *viewerApplicationField(Viewer viewer) const;
    QComboBox *cameraHotPlugPopUp() const { return m_cameraHotPlug; }
    QComboBox *iconSetPopUp() const { return m_iconSet; }
    QComboBox *vendorPopUp() const { return m_dbVendor; }
    QLineEdit *hostField() const { return m_dbHost; }
    QLineEdit *userField() const { return m_dbUser; }
    QLineEdit *passwordField() const { return m_dbPassword; }
    QLineEdit *databaseField() const { return m_dbDatabase; }
    QPushButton *connectButton() const { return m_dbConnect; }
    QPushButton *createButton() const { return m_dbCreate; }
    QPushButton *userManagerButton() const { return m_userManager; }
    QPushButton *downloadPageButton() const { return m_downloadPage; }
    QComboBox *protocolPopUp() const { return m_msaProtocol; }
    QLineEdit *msaServerField() const { return m_msaServer; }
    QLineEdit *msaUserField() const { return m_msaUser; }
    QLineEdit *msaPasswordField() const { return m_msaPassword; }
    QLineEdit *msaVolumeField() const { return m_msaVolume; }
    QLineEdit *msaImportPathField() const { return m_msaImportPath; }
    QCheckBox *automountSwitch() const { return m_msaAutomount; }
    QTableView *fileTypeTable() const { return m_fileTypes; }
    QPushButton *fileTypeAddButton() const { return m_ftAdd; }
    QPushButton *fileTypeDeleteButton() const { return m_ftDelete; }
    QPushButton *fileTypeUpButton() const { return m_ftUp; }
    QPushButton *fileTypeDownButton() const { return m_ftDown; }
    QToolButton *fileTypeActionButton() const { return m_ftAction; }
    QDialog *fileTypeSheet() const { return m_sheet; }
    QLineEdit *sheetExtensionField() const { return m_sheetExtension; }
    QLineEdit *sheetTypeCodeField() const { return m_sheetTypeCode; }
    QLineEdit *sheetDescriptionField() const { return m_sheetDescription; }
    QComboBox *sheetProcessorPopUp() const { return m_sheetProcessor; }
    QComboBox *sheetViewerPopUp() const { return m_sheetViewer; }
    QComboBox *sheetTypePopUp() const { return m_sheetType; }
    QCheckBox *sheetExifSwitch() const { return m_sheetExif; }
    QCheckBox *sheetIptcSwitch() const { return m_sheetIptc; }

signals:
    // A successful Connect saved new catalog settings.
    void databaseSettingsSaved();
    // Something was written to the preferences (a hand save, a bound control, a file-type edit).
    void preferencesWritten();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum class SheetContext { Add, Edit };

    QWidget *makeGeneralTab();
    QWidget *makeImportTab();
    QWidget *makeFileTypesTab();
    QWidget *makeDatabaseTab();
    QWidget *makeMediaServerTab();
    void makeFileTypeSheet();
    void reloadCameraHotPlug();
    void reloadIconSets();
    void updateViewerControls();
    void updateDatabaseButtons();
    void updateFileTypeButtons();
    void fileTypeTableChanged(bool written, int selectRow);
    int vendorIndexFor(const QString &vendor);
    QString vendorForIndex(int index) const;
    bool confirm(const QString &message);
    void tell(const QString &title, const QString &message);

    UserDefaults &m_defaults;
    OVNConnectionFactory &m_factory;
    OVNExtensionMapping &m_table;
    OVNCameraHotPlug *m_hotPlug = nullptr;
    std::function<OVNDatabaseAccess *()> m_connectionInUse;
    std::function<void()> m_openUserManager;
    std::function<void()> m_openDownloadPage;
    QPushButton *m_downloadPage = nullptr;
    OVNPreferenceBinding *m_bindings = nullptr;
    SheetContext m_sheetContext = SheetContext::Add;

    QTabWidget *m_tabs = nullptr;
    // General
    QComboBox *m_viewerType[2] = {};
    QPushButton *m_viewerChooser[2] = {};
    QLineEdit *m_viewerApplication[2] = {};
    QComboBox *m_cameraHotPlug = nullptr;
    QComboBox *m_iconSet = nullptr;
    QList<QFrame *> m_colorWells;
    // File types
    QTableView *m_fileTypes = nullptr;
    OVNFileTypeTableModel *m_fileTypeModel = nullptr;
    QPushButton *m_ftAdd = nullptr;
    QPushButton *m_ftDelete = nullptr;
    QPushButton *m_ftUp = nullptr;
    QPushButton *m_ftDown = nullptr;
    QToolButton *m_ftAction = nullptr;
    QMenu *m_ftActionMenu = nullptr;
    QDialog *m_sheet = nullptr;
    QLineEdit *m_sheetExtension = nullptr;
    QLineEdit *m_sheetTypeCode = nullptr;
    QLineEdit *m_sheetDescription = nullptr;
    QComboBox *m_sheetProcessor = nullptr;
    QComboBox *m_sheetViewer = nullptr;
    QComboBox *m_sheetType = nullptr;
    QCheckBox *m_sheetExif = nullptr;
    QCheckBox *m_sheetIptc = nullptr;
    // Database
    QComboBox *m_dbVendor = nullptr;
    QLineEdit *m_dbHost = nullptr;
    QLineEdit *m_dbUser = nullptr;
    QLineEdit *m_dbPassword = nullptr;
    QLineEdit *m_dbDatabase = nullptr;
    // The server's host, user, password and database, kept while another vendor is shown (the
    // integrated catalog has none): switching back shows them again, and saving keeps them.
    QStringList m_serverFields{QString(), QString(), QString(), QString()};
    // The vendor item whose values the four fields show now; -1 before the first reload.
    int m_fieldsVendor = -1;
    QPushButton *m_dbConnect = nullptr;
    QPushButton *m_dbCreate = nullptr;
    QPushButton *m_userManager = nullptr;
    QLabel *m_dbNote = nullptr;
    // Media server
    QComboBox *m_msaProtocol = nullptr;
    QLineEdit *m_msaServer = nullptr;
    QLineEdit *m_msaUser = nullptr;
    QLineEdit *m_msaPassword = nullptr;
    QLineEdit *m_msaVolume = nullptr;
    QLineEdit *m_msaImportPath = nullptr;
    QCheckBox *m_msaAutomount = nullptr;
    QLabel *m_msaNote = nullptr;
};
