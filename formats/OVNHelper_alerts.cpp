#include "formats/OVNHelper.h"

#include "platform/Alert.h"

void OVNHelper::displayAlert(const QString &title, const QString &message, QObject *window)
{
    Alert alert;
    alert.message = title;
    alert.informativeText = message;
    // No buttons: the presenter shows its single default OK button.
    if (window != nullptr) {
        alert.modality = Alert::Modality::Window;
        alert.window = window;
        Alerts::show(alert);
    } else {
        alert.modality = Alert::Modality::Application;
        Alerts::run(alert);
    }
}
