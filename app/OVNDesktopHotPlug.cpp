#include "app/OVNDesktopHotPlug.h"

#include "platform/MimeAppsList.h"
#include "platform/Workspace.h"

namespace {
const QString kAdded = QStringLiteral("Added Associations");
const QString kDefault = QStringLiteral("Default Applications");
} // namespace

OVNDesktopHotPlug::OVNDesktopHotPlug(QString listPath)
    : m_path(listPath.isEmpty() ? MimeAppsList::userListPath() : std::move(listPath))
{}

QString OVNDesktopHotPlug::contentType() { return QStringLiteral("x-content/image-dcf"); }

QString OVNDesktopHotPlug::ownEntryId() { return QStringLiteral("ostrevan.desktop"); }

QStringList OVNDesktopHotPlug::applications() const
{
    QByteArray text;
    if (!MimeAppsList::read(m_path, &text))
        return {};
    return MimeAppsList::values(text, kAdded, contentType());
}

QString OVNDesktopHotPlug::defaultApplication() const
{
    QByteArray text;
    if (!MimeAppsList::read(m_path, &text))
        return {};
    return MimeAppsList::values(text, kDefault, contentType()).value(0);
}

void OVNDesktopHotPlug::setDefaultApplication(const QString &path)
{
    QByteArray text;
    // A file we cannot read is someone else's to mend: writing it would lose their lines.
    if (!MimeAppsList::read(m_path, &text))
        return;
    QByteArray edited = text;
    if (!path.isEmpty() && !MimeAppsList::values(edited, kAdded, contentType()).isEmpty())
        edited = MimeAppsList::withItemFirst(edited, kAdded, contentType(), path);
    edited =
        MimeAppsList::withValue(edited, kDefault, contentType(), path.isEmpty() ? QString() : path + QLatin1Char(';'));
    if (edited != text)
        MimeAppsList::write(m_path, edited);
}

bool OVNDesktopHotPlug::addMyself()
{
    // An association to an entry the desktop cannot find would only confuse it.
    if (Workspace::ownDesktopEntryPath().isEmpty())
        return true;
    QByteArray text;
    if (!MimeAppsList::read(m_path, &text))
        return false;
    const QByteArray edited = MimeAppsList::withItemFirst(text, kAdded, contentType(), ownEntryId());
    return edited == text || MimeAppsList::write(m_path, edited);
}
