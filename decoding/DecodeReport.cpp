#include "decoding/DecodeReport.h"

namespace {

thread_local DecodeReport::Scope *current = nullptr;

} // namespace

DecodeReport::Scope::Scope() : m_previous(current) { current = this; }

DecodeReport::Scope::~Scope() { current = m_previous; }

void DecodeReport::damaged(const QString &reason)
{
    if (current && current->m_damage.isEmpty() && !reason.isEmpty())
        current->m_damage = reason;
}

QString DecodeReport::noted() { return current ? current->m_damage : QString(); }

void DecodeReport::unsupported(const QString &kind)
{
    if (current && current->m_unsupported.isEmpty() && !kind.isEmpty())
        current->m_unsupported = kind;
}

void DecodeReport::colour(const QString &space, const QByteArray &profile)
{
    if (current && current->m_colourSpace.isEmpty() && !space.isEmpty()) {
        current->m_colourSpace = space;
        current->m_colourProfile = profile;
    }
}

QString DecodeReport::notedColourSpace() { return current ? current->m_colourSpace : QString(); }

QByteArray DecodeReport::notedColourProfile() { return current ? current->m_colourProfile : QByteArray(); }

QString DecodeReport::unsupportedText(const QString &kind)
{
    return QStringLiteral("the picture is of a kind the program does not read (%1)").arg(kind);
}
