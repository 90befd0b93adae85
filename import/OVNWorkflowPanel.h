#pragma once

#include "import/OVNImportWorker.h"

#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>

class OVNDatabaseAccess;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;
class UserDefaults;

// The drop area of the workflow panel: takes files and folders (text/uri-list) and hands their
// paths to its delegate together with the workflow row it serves.
class OVNWorkflowFileDump : public QWidget
{
    Q_OBJECT
public:
    explicit OVNWorkflowFileDump(QWidget *parent = nullptr);

    void setDelegate(std::function<void(const QStringList &)> delegate) { m_delegate = std::move(delegate); }
    void setDragAction(int row) { m_action = row; }
    int dragAction() const { return m_action; }
    bool isHighlighted() const { return m_highlighted; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    std::function<void(const QStringList &)> m_delegate;
    int m_action = 0;
    bool m_highlighted = false;
};

// The floating workflow panel: six fixed import workflows in a list, the chosen one's description,
// and its start view (the drop area, or the photo-library album pop-up with its import button). It
// opens where it was last left ("WorkflowPanelX" and "WorkflowPanelY").
class OVNWorkflowPanel : public QWidget
{
    Q_OBJECT
public:
    explicit OVNWorkflowPanel(UserDefaults &defaults);
    ~OVNWorkflowPanel() override;

    // Where each workflow run gets the connection it makes its category with (on the GUI thread).
    void setConnectionMaker(OVNImportWorker::ConnectionMaker maker) { m_connections = std::move(maker); }

    bool isVisible() const { return QWidget::isVisible(); }
    void makeKeyAndOrderFront();
    // Shows the panel without taking the keyboard focus from the window that has it (the catalog
    // window the panel opens beside at start-up).
    void orderFrontWithoutActivating();
    void orderOut();
    // Stores the panel's origin (the lower-left corner of its contents, measured upwards from the
    // primary screen's bottom) under "WorkflowPanelX" and "WorkflowPanelY" (numbers).
    void saveLocation();

    int workflowCount() const { return m_definitions.size(); }
    QVariantMap workflowDefinition(int row) const { return m_definitions.value(row); }
    // Selects a row (-1: none) and shows its start view.
    void selectWorkflow(int row);
    QString descriptionText() const;
    OVNWorkflowFileDump *fileDump() const { return m_fileDump; }
    QComboBox *albumSelection() const { return m_albumSelection; }
    QWidget *startView() const;

    // Runs the selected workflow on dropped paths.
    void performDragWithFiles(const QStringList &files);
    // Runs the photo-library workflow on the album chosen in the pop-up.
    void iivImportButtonClicked();

    // The photo library: "AlbumData.xml" in "iPhoto Library" under the pictures folder.
    static QString albumDataPath();
    // Album titles of a read library, in file order.
    static QStringList albumNames(const QVariant &library);
    // Import items ({"PATH", "CAPTION", "COMMENT", "RATING", "KEYWORDS"}) of the album at `index`,
    // empty when that album is not titled `title`.
    static QVariantList albumItems(const QVariant &library, int index, const QString &title);

private:
    // Shows the panel, on screen, and its selected workflow's start view.
    void orderFront();
    void loadWorkflowDefinitions();
    void fillAlbumSelection();
    void quickScan(const QStringList &files);
    QString newCategory(const QString &name);
    void startImport(const QVariantList &files, const QString &categoryId, const QString &destination,
                     const QString &volume);
    void closeEvent(QCloseEvent *event) override;

    UserDefaults &m_defaults;
    OVNImportWorker::ConnectionMaker m_connections;
    std::shared_ptr<OVNDatabaseAccess> m_connection; // of the last category made
    QList<QVariantMap> m_definitions;
    QListWidget *m_table = nullptr;
    QLabel *m_info = nullptr;
    QStackedWidget *m_startViews = nullptr;
    OVNWorkflowFileDump *m_fileDump = nullptr;
    QWidget *m_albumView = nullptr;
    QComboBox *m_albumSelection = nullptr;
    QPushButton *m_importButton = nullptr;
    // Placed from its stored origin and not shown since.
    bool m_placedByContents = false;
};
