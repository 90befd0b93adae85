#include "platform/Movie.h"

#include "platform/MovieSource_p.h"

#include <QFile>

bool looksLikePdf(const QByteArray &head)
{
    return head.left(1024).contains("%PDF-");
}

std::unique_ptr<Movie> Movie::open(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return nullptr;
    }
    const QByteArray head = file.read(1024);
    file.close();
    std::unique_ptr<Source> source = looksLikePdf(head) ? openPdfMovieSource(path, error)
                                                        : openFfmpegMovieSource(path, error);
    if (!source)
        return nullptr;
    return std::unique_ptr<Movie>(new Movie(path, std::move(source)));
}

Movie::Movie(QString path, std::unique_ptr<Source> source)
    : m_path(std::move(path))
    , m_source(std::move(source))
{
}

Movie::~Movie() = default;

Movie::Kind Movie::kind() const
{
    return m_source->kind();
}

MovieTime Movie::duration() const
{
    return m_source->duration();
}

QSize Movie::naturalSize() const
{
    return m_source->naturalSize();
}

QImage Movie::frameImageAtTime(MovieTime time, QSize size)
{
    if (time.timeScale <= 0)
        return {};
    if (!size.isValid() || size.isEmpty())
        size = QSize();
    return m_source->frameImageAtTime(time, size);
}
