#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <chrono>
#include <memory>

// A point or span of a movie's time line: a count of units of which `timeScale` make one second.
struct MovieTime {
    qint64 timeValue = 0;
    qint32 timeScale = 600;

    double seconds() const { return timeScale > 0 ? double(timeValue) / timeScale : 0.0; }
};

// A time-based medium opened for reading pictures out of it: movies (through FFmpeg), the still
// formats the movie framework also opened (Photoshop files through the image reading's reader,
// PhotoCD through FFmpeg), and PDF documents, whose pages are its frames (one second each). Everything here is
// synchronous; one Movie is used by one thread at a time, while separate Movies may be used on separate threads.
//
// Playback is MoviePlayer's (Qt Multimedia); it asks this class for the track's rotation.
class Movie
{
public:
    enum class Kind { Video, Still, Document };

    // Every movie counts its time in units of 1/600 s, the movie framework's usual scale.
    static constexpr qint32 movieTimeScale = 600;

    // Opens the file, or answers null with the reason in `error` when it holds nothing to show or
    // its opening outlasts the deadline of its thread's DecodeInterrupt scope, or is cancelled.
    static std::unique_ptr<Movie> open(const QString &path, QString *error = nullptr);
    ~Movie();
    Movie(const Movie &) = delete;
    Movie &operator=(const Movie &) = delete;

    const QString &path() const { return m_path; }
    Kind kind() const;
    MovieTime duration() const;
    qint32 timeScale() const { return duration().timeScale; }
    // The picture size as it is shown: pixel aspect and the track's rotation applied.
    QSize naturalSize() const;
    // The track's rotation in degrees clockwise (0, 90, 180 or 270).
    int rotationAngle() const;
    // Whether the frames decode on enough threads within the process's decoding budget (its data
    // limit): a movie that does not is better read by a decoder with a larger one.
    bool fitsBudget() const;
    // Whether frameImageAtTime(time, size) gives its picture at that size within the process's
    // decoding budget; a document's page that would not is drawn smaller, to what the budget holds.
    bool frameFitsBudget(MovieTime time, QSize size = {}) const;

    // The picture shown at `time` (any time scale), at `size` or else the natural size. A time
    // past the end gives the last picture, a negative one the first. Null when nothing decodes,
    // and also when the decode outlasts its time (a document's page at most `pageTimeLimit`, less
    // within a DecodeInterrupt scope; a movie's frame its scope's deadline, asked per packet) or
    // the scope is cancelled; frameError() then says why. A frame read from damaged data (or the
    // want of one) is noted in frameDamage() and to the thread's DecodeReport scope.
    QImage frameImageAtTime(MovieTime time, QSize size = {});
    QString frameError() const { return m_frameError; }
    QString frameDamage() const { return m_frameDamage; }

    static constexpr std::chrono::milliseconds pageTimeLimit{30'000};

    class Source;

private:
    Movie(QString path, std::unique_ptr<Source> source);

    QString m_path;
    std::unique_ptr<Source> m_source;
    QString m_frameError;
    QString m_frameDamage;
};
