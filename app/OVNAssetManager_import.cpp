// The catalog window's import: "add files" and drops onto a category.

#include "app/OVNAssetManager.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "import/OVNImportMedia.h"

void OVNAssetManager::importFiles(const QStringList &paths, const QString &categoryId)
{
    if (paths.isEmpty() || categoryId.isEmpty() || !m_dbcon)
        return;
    if (!isUserAuthorizedForMediaWithType(QStringLiteral("READ & WRITE"), {categoryId}, true))
        return;
    QVariantList files;
    for (const QString &path : paths)
        files.append(path);
    // The worker opens its own connection to this window's catalog, on its own thread.
    const std::shared_ptr<OVNDatabaseAccess> windowConnection = m_dbcon;
    auto *import = new OVNImportMedia(this);
    import->setConnectionMaker([windowConnection] { return windowConnection->openSiblingConnection(); });
    m_trackImportDidFinish = true;
    import->processFiles(files, categoryId, this);
}
