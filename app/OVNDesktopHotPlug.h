#pragma once

#include "app/OVNCameraHotPlug.h"

// The camera hot-plug registration of the desktop: the x-content/image-dcf association of the
// user's mimeapps.list. Applications are named by their desktop file ids.
class OVNDesktopHotPlug : public OVNCameraHotPlug
{
public:
    // The list file; empty for the user's ($XDG_CONFIG_HOME/mimeapps.list).
    explicit OVNDesktopHotPlug(QString listPath = {});

    QStringList applications() const override;
    QString defaultApplication() const override;
    void setDefaultApplication(const QString &path) override;

    // Puts our entry first among the applications offered, when it is installed where the desktop
    // finds it and missing from the list. False when the file could not be read or written.
    bool addMyself();

    static QString contentType();
    static QString ownEntryId();

private:
    QString m_path;
};
