#include "app/OVNCommandLine.h"

namespace OVNCommandLine {

QString usage()
{
    return QStringLiteral(
        "Usage: ostrevan [-Key Value ...] [FILE ...]\n"
        "Starts Ostrevan on the catalog of your preferences and opens the files named, each where it\n"
        "would open from the catalog window. While Ostrevan runs, a second start hands its files to it.\n"
        "\n"
        "  -Key Value                a setting for this run only, never saved, e.g.\n"
        "                            -DBVendor Integrated | PostgreSQL, -DBHost HOST[:PORT],\n"
        "                            -DBUser NAME, -DBDatabase NAME\n"
        "  -OVNQuitAfterStartup YES  ends right after start-up (alerts go to standard error)\n"
        "  -OVNQuitAfterFirstPaint YES\n"
        "                            ends once the first catalog window is painted\n"
        "  -OVNStartupCategory ID    with -OVNQuitAfterFirstPaint: selects that category first\n"
        "  -platform NAME            Qt's window system plugin (xcb, wayland, offscreen)\n"
        "  -h, --help                prints this and ends\n"
        "  --version                 prints the version and ends\n"
        "\n"
        "Never give the database password on the command line: every user of the computer can read it.\n");
}

std::optional<Answer> answerBeforeStart(const QStringList &arguments, const QString &version)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return Answer{0, usage(), {}};
        if (argument == QLatin1String("--version"))
            return Answer{0, QStringLiteral("Ostrevan %1\n").arg(version), {}};
        if (argument.startsWith(QLatin1String("--")))
            return Answer{
                2,
                {},
                QStringLiteral("ostrevan: unknown option \"%1\"; settings take one dash (-Key Value)\n\n").arg(argument)
                    + usage()};
        // A setting's value is not an option, whatever it begins with; a lone "-" is a file name.
        if (argument.size() > 1 && argument.startsWith(QLatin1Char('-')))
            ++i;
    }
    return std::nullopt;
}

} // namespace OVNCommandLine
