#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// A message of the layout DecoderMessage reads (see DecoderMessage.h), written with the C++
// runtime alone: one map of booleans, 32- and 64-bit integers, strings and byte arrays. For a
// process that may call into no Qt library (the decoder's minimal template and its children, see
// TemplateLibraries.h).
class DecoderFlatMap
{
public:
    DecoderFlatMap() : m_bytes(5, '\0') { m_bytes[0] = 'M'; }

    void addBool(std::string_view key, bool value)
    {
        begin(key, 'b');
        m_bytes += char(value ? 1 : 0);
    }
    void addInt(std::string_view key, int32_t value)
    {
        begin(key, 'i');
        number(uint32_t(value));
    }
    void addLong(std::string_view key, int64_t value)
    {
        begin(key, 'l');
        number(uint64_t(value));
    }
    void addText(std::string_view key, std::string_view utf8) { addBytes(key, 's', utf8.data(), utf8.size()); }
    void addBytes(std::string_view key, const void *data, size_t size) { addBytes(key, 'y', data, size); }

    // The message: its tag, its count of keys, and each key with its value.
    const std::string &bytes()
    {
        std::memcpy(m_bytes.data() + 1, littleEndian(m_count).data(), 4);
        return m_bytes;
    }

private:
    void begin(std::string_view key, char tag)
    {
        ++m_count;
        number(uint32_t(key.size()));
        m_bytes += key;
        m_bytes += tag;
    }
    void addBytes(std::string_view key, char tag, const void *data, size_t size)
    {
        begin(key, tag);
        number(uint32_t(size));
        m_bytes.append(static_cast<const char *>(data), size);
    }
    template <typename T>
    static std::string littleEndian(T value)
    {
        std::string raw(sizeof(T), '\0');
        for (size_t i = 0; i < sizeof(T); ++i)
            raw[i] = char((value >> (8 * i)) & 0xff);
        return raw;
    }
    template <typename T>
    void number(T value)
    {
        m_bytes += littleEndian(value);
    }

    std::string m_bytes;
    uint32_t m_count = 0;
};
