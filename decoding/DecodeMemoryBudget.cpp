#include "decoding/DecodeMemoryBudget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

DecodeMemoryBudget::Reservation::Reservation(Reservation &&other) noexcept
    : m_budget(std::exchange(other.m_budget, nullptr)),
      m_bytes(std::exchange(other.m_bytes, 0))
{}

DecodeMemoryBudget::Reservation &DecodeMemoryBudget::Reservation::operator=(Reservation &&other) noexcept
{
    if (this != &other) {
        release();
        m_budget = std::exchange(other.m_budget, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

DecodeMemoryBudget::Reservation::~Reservation() { release(); }

void DecodeMemoryBudget::Reservation::release()
{
    if (m_budget)
        m_budget->give(m_bytes);
    m_budget = nullptr;
    m_bytes = 0;
}

DecodeMemoryBudget::DecodeMemoryBudget(qint64 capacity) : m_capacity(std::max<qint64>(1, capacity)) {}

DecodeMemoryBudget &DecodeMemoryBudget::shared()
{
    static DecodeMemoryBudget budget([] {
        constexpr qint64 mib = qint64(1) << 20;
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        const qint64 physical = pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : 4096 * mib;
        qint64 capacity = std::clamp(physical / 4, 128 * mib, 768 * mib);
        // In a process held to a data limit (a decoder), no more than the limit leaves beside the
        // process's own libraries and buffers: a picture that must be held whole and would not fit
        // is refused by its size before it is decoded, rather than end the process half-way.
        rlimit data{};
        if (getrlimit(RLIMIT_DATA, &data) == 0 && data.rlim_cur != RLIM_INFINITY)
            capacity = std::min(capacity, std::max<qint64>(qint64(data.rlim_cur) - 32 * mib, 16 * mib));
        return capacity;
    }());
    return budget;
}

DecodeMemoryBudget::Reservation DecodeMemoryBudget::reserve(qint64 bytes)
{
    bytes = std::clamp<qint64>(bytes, 0, m_capacity);
    std::unique_lock lock(m_mutex);
    const quint64 ticket = m_nextTicket++;
    m_changed.wait(lock, [&] { return ticket == m_serving && m_inUse + bytes <= m_capacity; });
    ++m_serving;
    m_inUse += bytes;
    lock.unlock();
    // The next in line may fit as well.
    m_changed.notify_all();
    return Reservation(this, bytes);
}

qint64 DecodeMemoryBudget::inUse() const
{
    std::lock_guard lock(m_mutex);
    return m_inUse;
}

quint64 DecodeMemoryBudget::waiting() const
{
    std::lock_guard lock(m_mutex);
    return m_nextTicket - m_serving;
}

void DecodeMemoryBudget::give(qint64 bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_inUse -= bytes;
    }
    m_changed.notify_all();
}

qint64 DecodeMemoryBudget::product(std::initializer_list<qint64> factors)
{
    qint64 result = 1;
    for (const qint64 factor : factors) {
        if (factor <= 0)
            return 0;
        if (__builtin_mul_overflow(result, factor, &result))
            result = unbounded;
    }
    return result;
}

qint64 DecodeMemoryBudget::sum(std::initializer_list<qint64> terms)
{
    qint64 result = 0;
    for (const qint64 term : terms)
        if (term > 0 && __builtin_add_overflow(result, term, &result))
            return unbounded;
    return result;
}
