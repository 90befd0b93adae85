#pragma once

// The readers behind Movie; private to platform/.

#include "platform/Movie.h"

#include <QByteArray>

#include <chrono>

// What ends a frame's decode early: the caller's cancel or deadline (asked through `shouldStop`,
// which reads the calling thread's state, so it is called on that thread) and the reader's own
// deadline for this frame.
struct FrameLimits {
    bool (*shouldStop)() = nullptr;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

class Movie::Source
{
public:
    virtual ~Source() = default;
    virtual Movie::Kind kind() const = 0;
    virtual MovieTime duration() const = 0;
    virtual QSize naturalSize() const = 0;
    // Null with `error` set when the frame cannot be decoded within the limits.
    virtual QImage frameImageAtTime(MovieTime time, QSize size, const FrameLimits &limits, QString *error) = 0;
    virtual int rotationAngle() const { return 0; }
};

// Both answer null with `error` set when the file is not theirs or is damaged.
std::unique_ptr<Movie::Source> openFfmpegMovieSource(const QString &path, QString *error);
std::unique_ptr<Movie::Source> openPdfMovieSource(const QString &path, QString *error);

// The two readers and FFmpeg's versions live in a module of their own (libovn_movie_readers.so),
// loaded at the first movie or document: FFmpeg and poppler bring about a hundred libraries that a
// process reading only pictures should not load and relocate at its start.
struct MovieReaders {
    std::unique_ptr<Movie::Source> (*openFfmpeg)(const QString &path, QString *error);
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
