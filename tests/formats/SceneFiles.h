#pragma once

// Large picture files of ordinary sizes for the readers' tests: a scene of smooth gradients that
// a file of any layout can hold, written a row at a time straight to disk, and the check that a
// thumbnail decoder makes its thumbnail within its limit and that the thumbnail shows the scene.

#include "decoding/ImageFileReader.h"
#include "decoding/MediaDecoder.h"
#include "tests/support/SyntheticPictures.h"

#include <QFile>
#include <QImage>
#include <QSize>
#include <QString>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

namespace scenefiles {

// Red grows to the right, green downwards, blue the other way round; grey is their mean. Each
// pixel from a column's and a row's level, so that a row of tens of thousands of pixels is made
// fast.
class Scene
{
public:
    explicit Scene(QSize size) : m_size(size), m_across(size_t(size.width())), m_down(size_t(size.height()))
    {
        for (int x = 0; x < size.width(); ++x)
            m_across[size_t(x)] = uchar(qint64(x) * 255 / std::max(1, size.width() - 1));
        for (int y = 0; y < size.height(); ++y)
            m_down[size_t(y)] = uchar(qint64(y) * 255 / std::max(1, size.height() - 1));
    }

    enum Channel { Red, Green, Blue, Grey };

    QSize size() const { return m_size; }
    // One row's levels of a channel, width() bytes.
    void levels(Channel channel, int y, uchar *out) const
    {
        const uchar *across = m_across.data();
        const int down = m_down[size_t(y)];
        for (int x = 0, w = m_size.width(); x < w; ++x)
            out[x] = uchar(channel == Red     ? across[x]
                           : channel == Green ? down
                           : channel == Blue  ? 255 - (across[x] + down) / 2
                                              : (across[x] + down) / 2);
    }
    // One row's pixels, in colour or grey.
    void pixels(int y, bool greyOnly, QRgb *out) const
    {
        const uchar *across = m_across.data();
        const int down = m_down[size_t(y)];
        for (int x = 0, w = m_size.width(); x < w; ++x) {
            const int g = (across[x] + down) / 2;
            out[x] = greyOnly ? qRgb(g, g, g) : qRgb(across[x], down, 255 - g);
        }
    }
    int red(int x) const { return m_across[size_t(x)]; }
    int green(int y) const { return m_down[size_t(y)]; }
    int blue(int x, int y) const { return 255 - (m_across[size_t(x)] + m_down[size_t(y)]) / 2; }
    int grey(int x, int y) const { return (m_across[size_t(x)] + m_down[size_t(y)]) / 2; }

    // The scene at `size`, each pixel as the scene is at its centre: what the averaged thumbnail
    // of a smooth scene shows.
    static QImage reference(QSize full, QSize size, bool greyOnly)
    {
        const Scene scene(full);
        QImage image(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const int sx = int((x + 0.5) * full.width() / size.width());
                const int sy = int((y + 0.5) * full.height() / size.height());
                const int g = scene.grey(sx, sy);
                image.setPixel(x, y,
                               greyOnly ? qRgb(g, g, g) : qRgb(scene.red(sx), scene.green(sy), scene.blue(sx, sy)));
            }
        return image;
    }

private:
    QSize m_size;
    std::vector<uchar> m_across, m_down;
};

// A file written a piece at a time.
class Writer
{
public:
    explicit Writer(const QString &path) : m_file(path) { EXPECT_TRUE(m_file.open(QIODevice::WriteOnly)); }
    void write(const QByteArray &bytes) { m_file.write(bytes); }
    void write(const std::vector<uchar> &bytes)
    {
        m_file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()));
    }

private:
    QFile m_file;
};

// The thumbnail a thumbnail decoder makes of the file, as the import asks for it (a picture's
// road, or a movie's still frame), checked against the scene: made, of its size, and showing it
// (as `shown` makes of the scene's reference where it is given: inks through their profile).
inline void expectThumbnailOfScene(const QString &path, QSize full, bool greyOnly, bool asMovie = false,
                                   double tolerance = 3.0, const std::function<QImage(const QImage &)> &shown = {})
{
    const QSize box(256, 256);
    const QSize size = ImageFileReader::fittedSize(full, box);
    MediaDecoder decoder(MediaDecoder::Use::Thumbnail);
    QImage thumbnail;
    QString why;
    if (asMovie) {
        const std::optional<MediaDecoder::MovieInfo> info = decoder.openMovie(path, &why);
        ASSERT_TRUE(info) << qPrintable(why);
        EXPECT_EQ(info->naturalSize, full);
        thumbnail = decoder.movieFrame(MovieTime{0, 600}, size, &why);
    } else {
        ImageFileReader::Facts facts;
        thumbnail = decoder.read(path, box, &facts);
        why = ImageFileReader::refusalText(facts.refusal);
        EXPECT_EQ(facts.size, full);
    }
    ASSERT_FALSE(thumbnail.isNull()) << qPrintable(why);
    ASSERT_EQ(thumbnail.size(), size);
    const QImage reference = Scene::reference(full, size, greyOnly);
    EXPECT_LT(syntheticpictures::meanDifference(thumbnail, shown ? shown(reference) : reference), tolerance);
    QFile::remove(path);
}

} // namespace scenefiles
