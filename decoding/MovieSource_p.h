#pragma once

// The readers behind Movie; private to decoding/.

#include "decoding/DecodeInterrupt.h"
#include "decoding/Movie.h"

#include <QByteArray>

// What ends an opening or a frame's decode early: the caller's cancel or deadline, asked through
// `shouldStop` (DecodeInterrupt::shouldStop of the program: the module has its own copy of the
// platform's statics, so it cannot ask that class itself; the function reads the calling thread's
// state, so it is called on that thread), and the reader's own deadline.
struct FrameLimits {
    bool (*shouldStop)() = nullptr;
    DecodeInterrupt::Clock::time_point deadline = DecodeInterrupt::Clock::time_point::max();

    bool reached() const { return (shouldStop && shouldStop()) || DecodeInterrupt::Clock::now() >= deadline; }
};

class Movie::Source
{
public:
    virtual ~Source() = default;
    virtual Movie::Kind kind() const = 0;
    virtual MovieTime duration() const = 0;
    virtual QSize naturalSize() const = 0;
    // Null with `error` set when the frame cannot be decoded within the limits. `damage` is set when
    // the picture given, or the want of one, comes from damaged data ("the data ends early").
    virtual QImage frameImageAtTime(MovieTime time, QSize size, const FrameLimits &limits, QString *error,
                                    QString *damage) = 0;
    virtual int rotationAngle() const { return 0; }
    // Whether this process's decoding budget gives the frames enough threads (see MovieThreads.h).
    virtual bool fitsBudget() const { return true; }
    // Whether the frame at `time` at `size` (its own size where empty) is had within this
    // process's decoding budget, rather than drawn smaller to fit it.
    virtual bool frameFitsBudget(MovieTime, QSize) const { return true; }
};

// What this process's decodes may hold: its data limit less what the process itself needs, as
// the decoding budget (DecodeMemoryBudget) counts it; no bound in a process without a limit.
qint64 decodingBudget();

// Both answer null with `error` set when the file is not theirs or is damaged; the FFmpeg reader
// stops opening at the limits.
std::unique_ptr<Movie::Source> openFfmpegMovieSource(const QString &path, const FrameLimits &limits, QString *error);
std::unique_ptr<Movie::Source> openPdfMovieSource(const QString &path, QString *error);

// The two readers and FFmpeg's versions live in a module of their own (libovn_movie_readers.so),
// loaded at the first movie or document: FFmpeg and poppler bring about a hundred libraries that a
// process reading only pictures should not load and relocate at its start.
struct MovieReaders {
    std::unique_ptr<Movie::Source> (*openFfmpeg)(const QString &path, const FrameLimits &limits, QString *error);
    std::unique_ptr<Movie::Source> (*openPdf)(const QString &path, QString *error);
    unsigned (*avformatVersion)();
    const char *(*ffmpegVersion)();
};

// The module's readers, loaded once; null with `error` set when the module cannot be loaded.
const MovieReaders *movieReaders(QString *error = nullptr);

// The module's one entry point.
#define OVN_MOVIE_READERS_ENTRY "ovn_movie_readers"

// True when the data starts like a PDF document ("%PDF-" within its first kilobyte).
bool looksLikePdf(const QByteArray &head);
