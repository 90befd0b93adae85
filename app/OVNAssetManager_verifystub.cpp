// Stand-in until the shared confirmation lands.
#include "app/OVNAssetManager.h"

#include "platform/Alert.h"

#include <QCoreApplication>

bool OVNAssetManager::verifyActionWithMultipleItems(int count)
{
    if (count <= 3)
        return true;
    return Alerts::run({QCoreApplication::translate("Localizable", "Do you really want to open %1 items?").arg(count),
                        QString(),
                        {QCoreApplication::translate("Localizable", "Open"), QCoreApplication::translate("Localizable", "Cancel")},
                        Alert::Style::Warning, Alert::Modality::Application, {}})
        == 0;
}
