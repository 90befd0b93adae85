#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <initializer_list>
#include <limits>
#include <mutex>

// Bounds the memory that picture decodes on all threads hold at once. A decode reserves what it
// expects to hold before it starts and waits while others hold too much; reservations are served
// in the order they were asked for, so a large one is not starved by a stream of small ones. A
// reservation larger than the whole budget takes all of it: that decode runs alone rather than
// never.
class DecodeMemoryBudget
{
public:
    class Reservation
    {
    public:
        Reservation() = default;
        Reservation(Reservation &&other) noexcept;
        Reservation &operator=(Reservation &&other) noexcept;
        ~Reservation();
        qint64 bytes() const { return m_bytes; }
        void release();

    private:
        friend class DecodeMemoryBudget;
        Reservation(DecodeMemoryBudget *budget, qint64 bytes) : m_budget(budget), m_bytes(bytes) {}
        DecodeMemoryBudget *m_budget = nullptr;
        qint64 m_bytes = 0;
    };

    explicit DecodeMemoryBudget(qint64 capacity);
    DecodeMemoryBudget(const DecodeMemoryBudget &) = delete;
    DecodeMemoryBudget &operator=(const DecodeMemoryBudget &) = delete;

    // The process's budget: a quarter of the machine's memory, at most 768 MiB, at least 128 MiB;
    // in a process held to a data limit, at most that limit less 32 MiB.
    static DecodeMemoryBudget &shared();

    // Waits until `bytes` (cut to the capacity) fit beside what others hold, and holds them until
    // the reservation ends.
    Reservation reserve(qint64 bytes);

    qint64 capacity() const { return m_capacity; }
    qint64 inUse() const;
    // The reservations waiting for their turn now.
    quint64 waiting() const;

    // Estimates from the sizes a file claims, which may be anything: the product or sum of the
    // terms, or `unbounded` when it does not fit in 63 bits (a negative term counts as 0). An
    // unbounded estimate exceeds every budget rather than wrapping round to a small one.
    static constexpr qint64 unbounded = std::numeric_limits<qint64>::max();
    static qint64 product(std::initializer_list<qint64> factors);
    static qint64 sum(std::initializer_list<qint64> terms);

private:
    void give(qint64 bytes);

    const qint64 m_capacity;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    qint64 m_inUse = 0;
    quint64 m_nextTicket = 0;
    quint64 m_serving = 0;
};
