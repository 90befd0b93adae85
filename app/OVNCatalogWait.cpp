#include "app/OVNCatalogWait.h"

#include <QCursor>
#include <QGuiApplication>

#include "catalogdb/OVNCatalogOpening.h"

#include <algorithm>

namespace {
// The outermost wait of the command running now on this thread.
thread_local OVNCatalogWait *running = nullptr;
} // namespace

OVNCatalogWait::OVNCatalogWait(SetStatus setStatus, QString previous)
    : m_setStatus(std::move(setStatus)),
      m_previous(std::move(previous)),
      m_start(std::chrono::steady_clock::now()),
      m_outer(running)
{
    if (!m_outer)
        running = this;
}

OVNCatalogWait::~OVNCatalogWait()
{
    if (running == this)
        running = nullptr;
    if (!m_outer)
        end();
}

void OVNCatalogWait::end()
{
    if (m_outer) {
        m_outer->end();
        return;
    }
    if (!m_shown)
        return;
    m_shown = false;
    QGuiApplication::restoreOverrideCursor();
    if (m_setStatus)
        m_setStatus(m_previous, false);
}

std::function<void(const QString &)> OVNCatalogWait::status()
{
    return [this](const QString &text) { show(text); };
}

int OVNCatalogWait::secondsLeft() const
{
    if (m_outer)
        return m_outer->secondsLeft();
    const auto spent = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_start);
    return std::max(1, OVNCatalogOpening::waitSeconds - int(spent.count()));
}

void OVNCatalogWait::show(const QString &text)
{
    if (m_outer) {
        m_outer->show(text);
        return;
    }
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
