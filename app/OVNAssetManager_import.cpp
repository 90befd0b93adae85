// Adding files to the catalog from the catalog window. The import itself is not part of this
// build yet: adding files only signals that nothing happened.
#include "app/OVNAssetManager.h"

#include <QApplication>

void OVNAssetManager::importFiles(const QStringList &, const QString &)
{
    QApplication::beep();
}
