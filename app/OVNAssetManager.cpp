#include "app/OVNAssetManager.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QStatusBar>
#include <QTreeWidget>

#include <algorithm>

OVNAssetManager::OVNAssetManager()
{
    setWindowTitle(localized("Asset Manager"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_tree = new QTreeWidget(this);
    m_tree->setHeaderLabels({localized("Category"), localized("Items")});
    m_tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    setCentralWidget(m_tree);
    statusBar();
}

OVNAssetManager::~OVNAssetManager() = default;

void OVNAssetManager::makeWindowControllers()
{
    // "x y w h sx sy sw sh", measured upwards from the main screen's bottom edge.
    const QStringList frame = UserDefaults::standard()
                                  .stringForKey(QStringLiteral("NSWindow Frame OVNAssetManager"))
                                  .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const int width = frame.value(2).toInt();
    const int height = frame.value(3).toInt();
    resize(width >= 400 ? width : 1000, height >= 300 ? height : 700);
    if (const QScreen *screen = QGuiApplication::primaryScreen(); screen && frame.size() >= 4) {
        const QRect full = screen->geometry();
        const QRect visible = screen->availableGeometry();
        const int left = full.x() + frame.value(0).toInt();
        const int top = full.y() + full.height() - (frame.value(1).toInt() + this->height());
        // Kept on the visible part of the screen, title bar included.
        move(std::clamp(left, visible.left(), std::max(visible.left(), visible.right() - this->width())),
             std::clamp(top, visible.top(), std::max(visible.top(), visible.bottom() - this->height())));
    }
    show();
}

void OVNAssetManager::setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess> connection)
{
    m_connection = std::move(connection);
}

void OVNAssetManager::reload()
{
    m_tree->clear();
    if (!m_connection || !m_connection->isDBConnectionActive()) {
        statusBar()->showMessage(localized("Not connected to a catalog."));
        return;
    }
    if (m_connection->vendor() == OVNDatabaseAccess::Vendor::Integrated)
        statusBar()->showMessage(localized("Catalog file %1").arg(m_connection->dbDatabase()));
    else
        statusBar()->showMessage(localized("Catalog %1 on a PostgreSQL server").arg(m_connection->dbDatabase()));

    auto *database = new QTreeWidgetItem(m_tree, {localized("Database")});
    const struct {
        const char *kind;
        QTreeWidgetItem *parent;
    } sections[] = {{"F", database}, {"C", database}, {"M", database}, {"I", database}, {"S", nullptr}};
    for (const auto &section : sections) {
        const QString kind = QString::fromLatin1(section.kind);
        for (const CategoryNode &node : m_connection->getCategoryList(kind)) {
            const QString mid = node.value(QStringLiteral("mid")).toString();
            const QStringList columns{node.value(QStringLiteral("displaytag")).toString(),
                                      QString::number(m_connection->getEntryCountForCategory(mid, kind))};
            if (section.parent)
                new QTreeWidgetItem(section.parent, columns);
            else
                new QTreeWidgetItem(m_tree, columns);
        }
    }
    database->setExpanded(true);
}
