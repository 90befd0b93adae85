#include "formats/OVNHelper.h"

#include "decoding/MediaVersions.h"

#include <QSysInfo>

namespace {

// The level this program's Linux layer offers: everything the design asks of a 10.5 system.
constexpr int kLinuxSystemLevel = 0x1050;

int bcdDigit(int value) { return value > 9 ? 9 : (value < 0 ? 0 : value); }

} // namespace

int OVNHelper::systemMajorVersion()
{
    return systemVersionNumber(QSysInfo::productType(), QSysInfo::productVersion(), QSysInfo::kernelType());
}

int OVNHelper::systemVersionNumber(const QString &productType, const QString &productVersion, const QString &kernelType)
{
    if (kernelType.isEmpty())
        return -1;
    if (productType != QLatin1String("macos") && productType != QLatin1String("osx"))
        return kLinuxSystemLevel;

    // The Mac numbering: two decimal digits of the major version, one of the minor, the bug-fix
    // digit cleared ("10.3.9" is 0x1030).
    const QStringList parts = productVersion.split(QLatin1Char('.'));
    bool majorOk = false;
    const int major = parts.value(0).toInt(&majorOk);
    if (!majorOk || major < 0 || major > 99)
        return -1;
    const int minor = parts.value(1).toInt();
    return (bcdDigit(major / 10) << 12) | (bcdDigit(major % 10) << 8) | (bcdDigit(minor) << 4);
}

int OVNHelper::quicktimeMajorVersion()
{
    return quicktimeVersionNumber(MediaVersions::avformatVersion(),
                                  static_cast<int>(MediaVersions::multimediaBackends().size()));
}

int OVNHelper::quicktimeVersionNumber(unsigned avformatVersion, int playbackBackendCount)
{
    // Start-up warns when this is not above 0x06FFFFFF; it should do so only when movies really
    // cannot be shown: no frame reader or no playback backend.
    if (avformatVersion == 0 || playbackBackendCount <= 0)
        return 0x06000000;
    return 0x07000000;
}
