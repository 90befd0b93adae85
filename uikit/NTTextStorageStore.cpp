#include "uikit/NTTextStorageStore.h"

#include "uikit/NTTextStorage.h"

#include <QMutexLocker>

NTTextStorageStore::~NTTextStorageStore() = default;

NTTextStorageStore &NTTextStorageStore::sharedInstance()
{
    static NTTextStorageStore store;
    return store;
}

std::unique_ptr<NTTextStorage> NTTextStorageStore::checkOutForString(const QString &string,
                                                                     const NTTextAttributes &attributes)
{
    std::unique_ptr<NTTextStorage> storage;
    {
        QMutexLocker locker(&m_lock);
        if (!m_cache.empty()) {
            storage = std::move(m_cache.back());
            m_cache.pop_back();
        }
    }
    // Refilling or building happens outside the lock, on the borrower's thread.
    if (storage)
        storage->replaceContents(string, attributes);
    else
        storage = std::make_unique<NTTextStorage>(string, attributes);
    return storage;
}

void NTTextStorageStore::checkIn(std::unique_ptr<NTTextStorage> storage)
{
    if (!storage)
        return;
    QMutexLocker locker(&m_lock);
    m_cache.push_back(std::move(storage));
}

int NTTextStorageStore::idleCount() const
{
    QMutexLocker locker(&m_lock);
    return int(m_cache.size());
}
