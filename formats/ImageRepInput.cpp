#include "formats/ImageRepInput.h"

#include "platform/HeapTuning.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>
#include <cstring>

ImageRepInput::ImageRepInput(QIODevice &device, qint64 position) : m_device(&device), m_position(position) {}

bool ImageRepInput::seekAndRead(QIODevice &device, qint64 at, uchar *into, qint64 count)
{
    if (!device.seek(at))
        return false;
    qint64 done = 0;
    while (done < count) {
        const qint64 n = device.read(reinterpret_cast<char *>(into) + done, count - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool ImageRepInput::fill()
{
    if (!m_buffer) {
        m_buffer = std::make_unique_for_overwrite<char[]>(size_t(bufferBytes));
        // As much of it as the file can fill is written now.
        const qint64 left = m_device->isSequential() ? bufferBytes : m_device->size() - m_position;
        HeapTuning::mapForWriting(m_buffer.get(), size_t(std::clamp<qint64>(left, 0, bufferBytes)));
    }
    m_start = m_position;
    m_length = 0;
    if (m_position < 0 || !m_device->seek(m_position))
        return false;
    m_length = std::max<qint64>(0, m_device->read(m_buffer.get(), bufferBytes));
    return m_length > 0;
}

int ImageRepInput::refillAndRead()
{
    if (!fill()) {
        m_endedEarly = true;
        return -1;
    }
    return uchar(m_buffer[size_t(m_position++ - m_start)]);
}

qint64 ImageRepInput::read(void *into, qint64 count)
{
    auto *out = static_cast<char *>(into);
    qint64 done = 0;
    while (done < count) {
        if (m_position >= m_start && m_position < m_start + m_length) {
            const qint64 n = std::min(count - done, m_start + m_length - m_position);
            std::memcpy(out + done, m_buffer.get() + (m_position - m_start), size_t(n));
            m_position += n;
            done += n;
            continue;
        }
        // Large reads go straight to the device.
        if (count - done >= bufferBytes) {
            const qint64 n = m_position >= 0 && m_device->seek(m_position) ? m_device->read(out + done, count - done)
                                                                           : -1;
            if (n <= 0)
                break;
            m_position += n;
            done += n;
            continue;
        }
        if (!fill())
            break;
    }
    if (done < count)
        m_endedEarly = true;
    return done;
}

QImage ImageRepInput::readBytes(DeviceReader reader, const QByteArray &data, QSize box)
{
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    return reader(buffer, box, nullptr);
}
