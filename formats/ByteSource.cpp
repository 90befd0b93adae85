#include "formats/ByteSource.h"

#include <QFile>

#include <algorithm>

namespace {

// Windows start on page boundaries, so that walks that step back a little find the window they
// came from, and the windows near a file's end stay few.
constexpr qint64 alignment = 4096;

} // namespace

ByteSource::ByteSource(QByteArrayView memory) : m_size(memory.size()), m_current{0, memory.size(), memory.data()} {}

ByteSource::ByteSource(QFile &file, qint64 size) : m_file(&file), m_size(std::max<qint64>(size, 0)) {}

ByteSource::~ByteSource() = default;

const char *ByteSource::loadWindow(qint64 position, qint64 length)
{
    if (!m_file)
        return nullptr;
    auto covers = [&](const Window &w) { return position >= w.start && position - w.start + length <= w.length; };
    auto after = m_windows.upper_bound(position);
    if (after != m_windows.begin()) {
        const Window &before = std::prev(after)->second.window;
        if (covers(before)) {
            m_current = before;
            return before.data + (position - before.start);
        }
    }

    const qint64 start = position - position % alignment;
    const qint64 wanted = std::min(std::max(position - start + length, windowBytes), m_size - start);
    if (wanted > maximumBytesRead - m_bytesRead)
        return nullptr;
    auto buffer = std::make_unique<QByteArray>(wanted, Qt::Uninitialized);
    if (!m_file->seek(start))
        return nullptr;
    const qint64 got = m_file->read(buffer->data(), wanted);
    if (got <= 0)
        return nullptr;
    m_bytesRead += got;
    const Window window{start, got, buffer->constData()};
    // An earlier, shorter window at the same start stays alive: views into it may still be held.
    Loaded &slot = m_windows[start];
    if (slot.buffer)
        m_retired.push_back(std::move(slot.buffer));
    slot = Loaded{window, std::move(buffer)};
    if (!covers(window))
        return nullptr; // the file ended early: cut short while it is read
    m_current = window;
    return window.data + (position - start);
}
