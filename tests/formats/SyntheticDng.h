#pragma once

// Writes small uncompressed DNG files (16-bit RGGB CFA, sRGB primaries) for the RAW decoding tests.

#include <QByteArray>
#include <QtEndian>

#include <algorithm>
#include <functional>
#include <vector>

namespace syntheticdng {

struct Rgb {
    quint16 r, g, b;
};

struct Options {
    int width = 64;
    int height = 48;
    int orientation = 1; // EXIF numbering
    QByteArray make = "Ostrevan";
    QByteArray model = "Test Sensor";
    // False for a file cut off after its header: the picture's data is named but not there.
    bool withData = true;
    // The pixel data after the directory, as most cameras write it, so that cutting the file
    // cuts the data; else it comes first.
    bool dataLast = false;
    // The scene, per pixel; each CFA site samples its channel of it.
    std::function<Rgb(int x, int y)> scene = [](int, int) { return Rgb{30000, 30000, 30000}; };
};

class TiffBuilder
{
public:
    void add(quint16 tag, quint16 type, quint32 count, QByteArray value)
    {
        m_entries.push_back({tag, type, count, std::move(value)});
    }
    void shorts(quint16 tag, std::vector<quint16> values)
    {
        QByteArray v;
        for (quint16 s : values)
            v.append(le16(s));
        add(tag, 3, quint32(values.size()), v);
    }
    void longs(quint16 tag, std::vector<quint32> values)
    {
        QByteArray v;
        for (quint32 l : values)
            v.append(le32(l));
        add(tag, 4, quint32(values.size()), v);
    }
    void bytes(quint16 tag, std::vector<quint8> values)
    {
        add(tag, 1, quint32(values.size()),
            QByteArray(reinterpret_cast<const char *>(values.data()), qsizetype(values.size())));
    }
    void ascii(quint16 tag, QByteArray text)
    {
        text.append('\0');
        add(tag, 2, quint32(text.size()), text);
    }
    void rationals(quint16 tag, quint16 type, std::vector<double> values)
    {
        QByteArray v;
        for (double d : values) {
            v.append(le32(quint32(qint32(d * 10000))));
            v.append(le32(10000));
        }
        add(tag, type, quint32(values.size()), v);
    }

    // The file: header, pixel data, then the IFD and the values that do not fit in an entry (or,
    // `dataLast`, the pixel data after them). The entry `stripOffsetTag` gets the pixel data's
    // offset.
    QByteArray build(const QByteArray &pixels, bool withData = true, bool dataLast = false) const
    {
        QByteArray out("II*\0", 4);
        const quint32 ifdOffset = dataLast ? 8 : 8 + (withData ? quint32(pixels.size()) : 0);
        const quint32 directoryEnd = ifdOffset + quint32(directory(ifdOffset, 0).size());
        const quint32 pixelOffset = dataLast ? directoryEnd : 8;
        // Cut off: the data would follow everything else.
        const quint32 namedOffset = withData ? pixelOffset : quint32(1) << 24;
        out.append(le32(ifdOffset));
        if (withData && !dataLast)
            out.append(pixels);
        out.append(directory(ifdOffset, namedOffset));
        if (withData && dataLast)
            out.append(pixels);
        return out;
    }

private:
    // The IFD at `ifdOffset` and the values that follow it.
    QByteArray directory(quint32 ifdOffset, quint32 namedOffset) const
    {
        QByteArray out;
        std::vector<Entry> entries = m_entries;
        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.tag < b.tag; });
        for (Entry &e : entries)
            if (e.tag == 273)
                e.value = le32(namedOffset);
        quint32 extra = ifdOffset + 2 + quint32(entries.size()) * 12 + 4;
        QByteArray ifd = le16(quint16(entries.size()));
        QByteArray tail;
        for (const Entry &e : entries) {
            ifd.append(le16(e.tag));
            ifd.append(le16(e.type));
            ifd.append(le32(e.count));
            if (e.value.size() <= 4) {
                QByteArray v = e.value;
                v.resize(4, '\0');
                ifd.append(v);
            } else {
                ifd.append(le32(extra + quint32(tail.size())));
                tail.append(e.value);
                if (tail.size() % 2)
                    tail.append('\0');
            }
        }
        ifd.append(le32(0));
        out.append(ifd);
        out.append(tail);
        return out;
    }

    struct Entry {
        quint16 tag, type;
        quint32 count;
        QByteArray value;
    };
    static QByteArray le16(quint16 v)
    {
        QByteArray b(2, '\0');
        qToLittleEndian(v, b.data());
        return b;
    }
    static QByteArray le32(quint32 v)
    {
        QByteArray b(4, '\0');
        qToLittleEndian(v, b.data());
        return b;
    }
    std::vector<Entry> m_entries;
};

inline QByteArray make(const Options &o)
{
    QByteArray pixels;
    const qsizetype pixelBytes = qsizetype(o.width) * o.height * 2;
    if (o.withData)
        pixels.reserve(pixelBytes);
    for (int y = 0; y < o.height && o.withData; ++y) {
        for (int x = 0; x < o.width; ++x) {
            const Rgb c = o.scene(x, y);
            // RGGB: red at even/even, blue at odd/odd, green elsewhere.
            const quint16 v = (y % 2 == 0 && x % 2 == 0) ? c.r : (y % 2 == 1 && x % 2 == 1) ? c.b : c.g;
            char le[2];
            qToLittleEndian(v, le);
            pixels.append(le, 2);
        }
    }
    TiffBuilder t;
    t.longs(254, {0});
    t.longs(256, {quint32(o.width)});
    t.longs(257, {quint32(o.height)});
    t.shorts(258, {16});
    t.shorts(259, {1});
    t.shorts(262, {32803});
    t.ascii(271, o.make);
    t.ascii(272, o.model);
    t.longs(273, {0});
    t.shorts(274, {quint16(o.orientation)});
    t.shorts(277, {1});
    t.longs(278, {quint32(o.height)});
    t.longs(279, {quint32(pixelBytes)});
    t.shorts(284, {1});
    t.shorts(33421, {2, 2});
    t.bytes(33422, {0, 1, 1, 2});
    t.bytes(50706, {1, 4, 0, 0});
    t.bytes(50707, {1, 1, 0, 0});
    t.ascii(50708, o.make + ' ' + o.model);
    t.longs(50714, {0});
    t.longs(50717, {65535});
    // XYZ to camera = XYZ to linear sRGB, so the camera's channels are sRGB's.
    t.rationals(50721, 10, {3.2406, -1.5372, -0.4986, -0.9689, 1.8758, 0.0415, 0.0557, -0.2040, 1.0570});
    t.rationals(50728, 5, {1.0, 1.0, 1.0});
    t.shorts(50778, {21});
    return t.build(pixels, o.withData, o.dataLast);
}

} // namespace syntheticdng
