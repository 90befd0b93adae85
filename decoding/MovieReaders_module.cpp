// The entry point of the movie and document reader module (see MovieSource_p.h).

#include "decoding/MovieSource_p.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

extern "C" Q_DECL_EXPORT const MovieReaders *ovn_movie_readers()
{
    static const MovieReaders readers{
        openFfmpegMovieSource,
        openPdfMovieSource,
        [] { return unsigned(avformat_version()); },
        [] { return av_version_info(); },
    };
    return &readers;
}
