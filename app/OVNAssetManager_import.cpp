// The catalog window's import: "add files" and drops onto a category.

#include "app/OVNAssetManager.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "import/OVNImportMedia.h"

bool OVNAssetManager::importFiles(const QStringList &paths, const QString &categoryId, const QStringList &skipped)
{
    if (paths.isEmpty() || categoryId.isEmpty() || !m_state.dbcon
        || !isUserAuthorizedNow(QStringLiteral("READ & WRITE"), categoryId))
        return false;
    QVariantList files;
    for (const QString &path : paths)
        files.append(path);
    // The worker opens its own connection to this window's catalog, on its own thread.
    const std::shared_ptr<OVNDatabaseAccess> windowConnection = m_state.dbcon;
    auto *import = new OVNImportMedia(this);
    import->setConnectionMaker([windowConnection] { return windowConnection->openSiblingConnection();
});
QList<OVNImportWorker::Failure> notLocal;
for (const QString &url : skipped)
    notLocal.append({url, QStringLiteral("not a file on this computer (%1)").arg(url)});
import->setSkippedItems(notLocal);
m_state.trackImportDidFinish = true;
import->processFiles(files, categoryId, this);
return true;
}
