// Placeholders for rating and quarter turns until they are built: they change nothing.
#include "app/OVNAssetManager.h"

void OVNAssetManager::menuSetRating(int)
{
}

bool OVNAssetManager::setRating(int, const QString &)
{
    return false;
}

void OVNAssetManager::menuRotateLeft()
{
}

void OVNAssetManager::menuRotateRight()
{
}
