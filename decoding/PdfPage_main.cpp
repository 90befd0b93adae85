// ovn-pdf-page FILE PAGE WIDTH HEIGHT MILLISECONDS PARENT: draws one page of a PDF document at
// WIDTH x HEIGHT pixels and writes it to standard output (see PdfPage_p.h). Run by the document
// reader, never by people; PARENT is the pid of the process that started it, whose end ends this
// one. Exits 0 with the page written, 1 when the page cannot be drawn, 3 when it was not drawn in
// time.
//
// It opens its file and then enters the decoders' sandbox (see DecoderSandbox.h) before it reads a
// byte of it: from there on it reads the document through that descriptor only.

#include "decoding/PdfPage_draw_p.h"
#include "decoding/ChildConfinement.h"
#include "decoding/DecoderSandbox.h"
#include "decoding/MediaDecoder_p.h"
#include "decoding/PdfPage_p.h"

#include <poppler-qt6.h>

#include <QFile>
#include <QImage>
#include <QString>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

// Everything written goes to standard output, where the document reader reads the page.
bool writeAll(const char *data, qint64 size) { return DecoderProtocol::writeAll(STDOUT_FILENO, data, size); }

void limit(int resource, rlim_t value)
{
    const rlimit bounds{value, value};
    setrlimit(resource, &bounds);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 7)
        return 2;
    if (!ChildConfinement::endWithParent(pid_t(std::atoll(argv[6]))))
        return 2;
    const int index = std::atoi(argv[2]);
    const QSize size(std::atoi(argv[3]), std::atoi(argv[4]));
    const long milliseconds = std::atol(argv[5]);
    if (index < 0 || !PdfPage::isDrawableSize(size) || milliseconds <= 0)
        return 2;
    // Bounded on its own too: the reader may be gone before it could end this process.
    limit(RLIMIT_CPU, rlim_t(milliseconds / 1000 + 2));
    limit(RLIMIT_AS, rlim_t(PdfPage::childMemoryLimit(size)));
    limit(RLIMIT_CORE, 0);
    // The reader waits for this child on the thread that started it: it ends with that thread.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    Poppler::setDebugErrorFunction([](const QString &, const QVariant &) {}, QVariant());

    const int fd = ::open(argv[1], O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return 1;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    QFile file;
    // Its document, standard output and error, and the fonts and their caches poppler opens: a
    // few dozen at most. Pipes beyond these would hold kernel memory that no limit counts.
    DecoderSandbox::Options sandbox;
    sandbox.descriptors = 64;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) || !DecoderSandbox::enter(sandbox))
        return 1;
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::load(&file);
    if (!document || document->isLocked() || index >= document->numPages())
        return 1;
    const std::unique_ptr<Poppler::Page> page = document->page(index);
    if (!page)
        return 1;
    bool outOfTime = false;
    const QImage image =
        PdfPage::draw(*document, *page, size, Clock::now() + std::chrono::milliseconds(milliseconds), &outOfTime);
    if (outOfTime)
        return PdfPage::exitOutOfTime;
    if (image.isNull())
        return 1;
    const PdfPage::Header header{{'O', 'P', 'G', '1'}, image.width(), image.height()};
    if (!writeAll(reinterpret_cast<const char *>(&header), sizeof header))
        return 1;
    for (int y = 0; y < image.height(); ++y)
        if (!writeAll(reinterpret_cast<const char *>(image.constScanLine(y)), qint64(image.width()) * 4))
            return 1;
    return 0;
}
