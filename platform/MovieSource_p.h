#pragma once

// The readers behind Movie; private to platform/.

#include "platform/Movie.h"

#include <QByteArray>

class Movie::Source
{
public:
    virtual ~Source() = default;
    virtual Movie::Kind kind() const = 0;
    virtual MovieTime duration() const = 0;
    virtual QSize naturalSize() const = 0;
    virtual QImage frameImageAtTime(MovieTime time, QSize size) = 0;
};

// Both answer null with `error` set when the file is not theirs or is damaged.
std::unique_ptr<Movie::Source> openFfmpegMovieSource(const QString &path, QString *error);
std::unique_ptr<Movie::Source> openPdfMovieSource(const QString &path, QString *error);

// True when the data starts like a PDF document ("%PDF-" within its first kilobyte).
bool looksLikePdf(const QByteArray &head);
