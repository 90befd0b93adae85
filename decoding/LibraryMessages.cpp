#include "decoding/LibraryMessages.h"

#include <tiffio.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

Q_LOGGING_CATEGORY(lcDecoding, "ovn.decoding", QtWarningMsg)

namespace {

void toLog(const char *kind, const char *module, const char *format, va_list arguments)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, arguments);
    qCInfo(lcDecoding, "libtiff %s: %s: %s", kind, module ? module : "", text);
}

void tiffWarning(const char *module, const char *format, va_list arguments)
{
    toLog("warning", module, format, arguments);
}

void tiffError(const char *module, const char *format, va_list arguments) { toLog("error", module, format, arguments); }

std::atomic<QtMessageHandler> previousHandler{nullptr};

// Qt's image readers and their plugins log under these categories.
bool fromImageReaders(const char *category)
{
    return category
           && (std::strncmp(category, "qt.gui.imageio", 14) == 0 || std::strncmp(category, "qt.imageformats", 15) == 0);
}

// Warnings of Qt's image readers on this thread about the data they read past: libjpeg's on a
// corrupt stretch or an early end (not those about a file's optional parts).
thread_local int dataWarnings = 0;

bool aboutTheData(const QString &message)
{
    return message.startsWith(QLatin1String("Corrupt JPEG data")) || message.startsWith(QLatin1String("Premature end"));
}

void routeMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (fromImageReaders(context.category)) {
        if (type == QtWarningMsg && aboutTheData(message))
            ++dataWarnings;
        if (type != QtFatalMsg) {
            qCInfo(lcDecoding, "%s: %s", context.category, qUtf8Printable(message));
            return;
        }
    }
    if (const QtMessageHandler previous = previousHandler.load())
        previous(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qUtf8Printable(qFormatLogMessage(type, context, message)));
}

} // namespace

void LibraryMessages::install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetWarningHandler(tiffWarning);
        TIFFSetErrorHandler(tiffError);
        previousHandler.store(qInstallMessageHandler(routeMessage));
    });
}

int LibraryMessages::imageDataWarnings() { return dataWarnings; }
