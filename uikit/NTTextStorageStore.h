#pragma once

#include <QMutex>

#include <memory>
#include <vector>

class NTTextStorage;
struct NTTextAttributes;
class QString;

// A process-wide pool of text-layout stacks. A label borrows one for its one-time layout and gives
// it straight back. The pool never shrinks: it holds as many idle stacks as were ever out at once.
// Check-out and check-in may be called from any thread.
class NTTextStorageStore
{
public:
    NTTextStorageStore() = default;
    ~NTTextStorageStore();

    NTTextStorageStore(const NTTextStorageStore &) = delete;
    NTTextStorageStore &operator=(const NTTextStorageStore &) = delete;

    static NTTextStorageStore &sharedInstance();
    static float defaultLineFragmentPadding() { return 2.0f; }

    // A stack holding exactly `string` with `attributes`: the most recently returned idle one,
    // refilled, or a new one. The borrower owns it until it hands it back with checkIn().
    std::unique_ptr<NTTextStorage> checkOutForString(const QString &string, const NTTextAttributes &attributes);
    void checkIn(std::unique_ptr<NTTextStorage> storage);

    int idleCount() const;

private:
    mutable QMutex m_lock;
    std::vector<std::unique_ptr<NTTextStorage>> m_cache;
};
