// Stand-in until the re-scan body lands.
#include "app/OVNAssetManager.h"

void OVNAssetManager::reimport(const QStringList &mediaIds, const QString &categoryId)
{
    Q_UNUSED(mediaIds);
    Q_UNUSED(categoryId);
}
