#include "platform/LibraryMessages.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
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

} // namespace

void LibraryMessages::install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetWarningHandler(tiffWarning);
        TIFFSetErrorHandler(tiffError);
    });
}
