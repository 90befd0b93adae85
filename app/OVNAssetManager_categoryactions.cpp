// Category actions of the catalog window that the outline starts: deleting the selected category
// and the category menu. Their full forms (asking, the deletion worker, every menu item) come with
// the category actions; until then deleting does nothing and the menu is empty.
#include "app/OVNAssetManager.h"

#include <QApplication>
#include <QMenu>

void OVNAssetManager::buttonDeleteCatalogClick()
{
    QApplication::beep();
}

std::unique_ptr<QMenu> OVNAssetManager::menuForContextButton(QObject *)
{
    return std::make_unique<QMenu>();
}
