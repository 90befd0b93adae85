#include "app/OVNCatalogWait.h"

#include <QCursor>
#include <QGuiApplication>

OVNCatalogWait::OVNCatalogWait(SetStatus setStatus, QString previous)
    : m_setStatus(std::move(setStatus)),
      m_previous(std::move(previous))
{}

OVNCatalogWait::~OVNCatalogWait()
{
    if (!m_shown)
        return;
    QGuiApplication::restoreOverrideCursor();
    if (m_setStatus)
        m_setStatus(m_previous, false);
}

std::function<void(const QString &)> OVNCatalogWait::status()
{
    return [this](const QString &text) { show(text); };
}

void OVNCatalogWait::show(const QString &text)
{
    if (m_shown)
        return;
    m_shown = true;
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    if (m_setStatus)
        m_setStatus(text, true);
    // The work goes on on this thread, which serves no events meanwhile (nothing else may use the
    // catalog connection in between): the cursor goes to the display now.
    QGuiApplication::sync();
}
