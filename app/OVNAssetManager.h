#pragma once

#include <QMainWindow>

#include <memory>

class OVNDatabaseAccess;
class QTreeWidget;

// A catalog window: for now the catalog's top-level categories by kind under the "Database" item,
// and where the catalog lives. Closing it never asks to save.
class OVNAssetManager : public QMainWindow
{
    Q_OBJECT
public:
    OVNAssetManager();
    ~OVNAssetManager() override;

    // Shows the window, sized by the registered frame ("NSWindow Frame OVNAssetManager").
    void makeWindowControllers();
    void setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess> connection);
    OVNDatabaseAccess *databaseConnection() const { return m_connection.get(); }
    std::shared_ptr<OVNDatabaseAccess> sharedDatabaseConnection() const { return m_connection; }
    // Reads the category tree anew from the connection.
    void reload();

private:
    std::shared_ptr<OVNDatabaseAccess> m_connection;
    QTreeWidget *m_tree = nullptr;
};
