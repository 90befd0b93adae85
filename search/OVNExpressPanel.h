#pragma once

#include <QWidget>

#include <memory>

class OVNDatabaseAccess;

// The floating express search panel. It works over a catalog connection of its own, handed to it
// the first time it is shown.
class OVNExpressPanel : public QWidget
{
    Q_OBJECT
public:
    OVNExpressPanel();
    ~OVNExpressPanel() override;

    bool isVisible() const { return QWidget::isVisible(); }
    void makeKeyAndOrderFront();
    void orderOut();

    OVNDatabaseAccess *databaseConnection() const { return m_connection.get(); }
    void setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess> connection);

private:
    std::shared_ptr<OVNDatabaseAccess> m_connection;
};
