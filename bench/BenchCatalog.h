// What the timed programs in bench/ share: a scratch catalog file, its entries, JPEG thumbnails on
// disk, a whole process timed, a median. Every helper prints what failed and exits with status 1, as
// a benchmark does not go on with half its data.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>

class OVNDatabaseAccess;

class QDir;

namespace BenchCatalog {

// A new catalog file at `path`, open; exits when it cannot be made.
std::shared_ptr<OVNDatabaseAccess> makeCatalog(const QString &path);

// Adds one entry; exits when the insert fails.
void addEntry(OVNDatabaseAccess &connection, const QVariantMap &record);

// A distinct 256 x 192 picture per index (gradient, noise, an ellipse), so that it compresses like a
// photograph's thumbnail.
QImage noisyThumbnail(int index);

// A distinct picture per index of `size`: a gradient whose colours depend on the index, with noise
// of +-`noiseAmplitude` (a power of two), so that it decodes like a photograph rather than a flat area.
QImage cameraPicture(int index, QSize size, int noiseAmplitude);

// `count` distinct pictures of `size` (cameraPicture) named photoNNNN.EXTENSION in `folder`, made on
// every core and written by `save` unless already there, so that a second run reuses them.
QStringList makePictures(const QDir &folder, int count, const QString &extension, QSize size, int noiseAmplitude,
                         const std::function<bool(const QImage &, const QString &)> &save);

// A distinct picture per index of `size` with a photograph's content rather than a gradient's:
// overlapping shaded shapes of every size (few large, many small, as objects in a scene), each
// with a texture of fine detail at several scales, and a camera's grain. Such a picture compresses
// and decodes as a photograph does: a gradient is flatter and decodes faster than any real file.
QImage photograph(int index, QSize size);

// The same as makePictures with photographs; the files are named photoNNNN.EXTENSION too.
QStringList makePhotographs(const QDir &folder, int count, const QString &extension, QSize size,
                            const std::function<bool(const QImage &, const QString &)> &save);

// ovn-import (`tool`) of a folder into a new catalog each run; `exec` makes the timed process the
// import itself.
QStringList importCommand(const QString &tool, const QString &catalog, const QString &folder);

// A 6000 x 4000 JPEG (quality 90) of noise over gradients, as hard to decode as a camera's
// photograph, saved at `path`; exits when it cannot be written.
void saveCameraPicture(const QString &path);

struct ThumbnailFiles {
    QStringList files;
    qint64 bytes = 0;
};

// `count` thumbnails saved as JPEG files (thumb_00000.jpg ...) in `folder` at `quality`, each also an
// Image entry of `category` holding the file's bytes as its thumbnail, with `extra` fields; in one
// transaction.
ThumbnailFiles addThumbnailFiles(OVNDatabaseAccess &connection, const QString &category, const QString &folder,
                                 int count, int quality, const QVariantMap &extra = {});

// Runs a program to its end and returns the wall time in seconds; exits when it fails. Its standard
// output is dropped when `quiet`.
double runSeconds(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                  bool quiet = false);

// The timing helper program `benchPair` on two whole programs under `title`, its figures on our
// standard output; whether it ran to a successful end.
bool comparePrograms(const QString &benchPair, const QString &title, const QStringList &a, const QStringList &b);

// The same for two programs that list the same data: it fails unless each prints at least one line
// that `field` matches (a regular expression; every non-empty line when empty), as many as the other,
// and, with a `targetRatio` above 0, unless the median pair ratio A/B is at most that.
bool compareListings(const QString &benchPair, const QString &title, const QStringList &a, const QStringList &b,
                     const QString &field = {}, double targetRatio = 0);

// The same with `pairs` pairs, each side handling `files` items (for per-item rates); `b` may be
// empty to time one program alone.
bool comparePrograms(const QString &benchPair, const QString &title, int pairs, int files, const QStringList &a,
                     const QStringList &b);

inline constexpr int pictureWidth = 4000;
inline constexpr int pictureHeight = 3000;
// `count` distinct pictureWidth x pictureHeight JPEGs that decode like photographs (a gradient with noise), made in
// `folder` on every core unless there from an earlier run; their paths.
QStringList makeCameraJpegs(const QDir &folder, int count);

double median(std::vector<double> values);

// The statement for a command-line peer that prints what our search tools print of each entry found:
// its id and name, tab-separated.
QString sameColumnsAsOurs(QString sql);

} // namespace BenchCatalog
