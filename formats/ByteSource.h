#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <map>
#include <memory>
#include <vector>

class QFile;

// The bytes of a buffer or of a file, for readers that look at a few places of a file only.
//
// A file is read in bounded windows where the reader asks, never mapped: a file cut short, a card
// pulled or a share dropped while it is read then makes the missing bytes unreadable instead of
// ending the program. What is read per file is capped, so a hostile file cannot make the reader
// load more than a small part of a huge one.
class ByteSource
{
public:
    // Bytes already in memory; they must outlive the source.
    explicit ByteSource(QByteArrayView memory);
    // An open file, `size` bytes long; the file must stay open while the source is used.
    ByteSource(QFile &file, qint64 size);
    ~ByteSource();
    ByteSource(const ByteSource &) = delete;
    ByteSource &operator=(const ByteSource &) = delete;

    qint64 size() const { return m_size; }

    // The `length` bytes at `position`, or null when any of them lies outside the data or cannot
    // be read. The pointer stays valid as long as the source.
    const char *bytes(qint64 position, qint64 length)
    {
        if (position < 0 || length < 0 || position > m_size || length > m_size - position)
            return nullptr;
        if (position >= m_current.start && position - m_current.start + length <= m_current.length)
            return m_current.data + (position - m_current.start);
        return loadWindow(position, length);
    }
    // The same as a view; empty when unreadable.
    QByteArrayView view(qint64 position, qint64 length)
    {
        const char *data = bytes(position, length);
        return data ? QByteArrayView(data, length) : QByteArrayView();
    }

    // Bytes read per window at least, and from one file at most.
    static constexpr qint64 windowBytes = qint64(64) << 10;
    static constexpr qint64 maximumBytesRead = qint64(64) << 20;

private:
    struct Window {
        qint64 start = 0;
        qint64 length = 0;
        const char *data = nullptr;
    };
    struct Loaded {
        Window window;
        std::unique_ptr<QByteArray> buffer;
    };
    const char *loadWindow(qint64 position, qint64 length);

    QFile *m_file = nullptr;
    qint64 m_size = 0;
    qint64 m_bytesRead = 0;
    Window m_current;
    std::map<qint64, Loaded> m_windows;                 // by start
    std::vector<std::unique_ptr<QByteArray>> m_retired; // replaced windows that views may still use
};
