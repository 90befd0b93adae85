// The command line's first check, shared by the tools: --help and -h answer with the usage, and an
// option the tool does not know is refused before anything else runs (no file written, no window).
#pragma once

#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>

namespace ToolUsage {

// An option the tool takes: its name ("--size"; a name ending in "*" stands for every option that
// begins with what comes before it, followed by anything but another "-") and how many arguments follow it (-1: every
// argument up to the next one that begins with "--").
struct Option {
    const char *name;
    int values = 0;
};

inline bool isOption(const char *argument)
{
    // "-" alone (standard input) and negative numbers are values.
    return argument[0] == '-' && argument[1] != '\0' && !(argument[1] >= '0' && argument[1] <= '9')
           && argument[1] != '.';
}

inline const Option *known(const char *argument, std::initializer_list<Option> options)
{
    for (const Option &option : options) {
        const size_t length = std::strlen(option.name);
        if (length > 0 && option.name[length - 1] == '*') {
            // "-*" takes "-Key" but not "--key".
            if (std::strncmp(argument, option.name, length - 1) == 0 && std::strlen(argument) > length - 1
                && argument[length - 1] != '-')
                return &option;
        } else if (std::strcmp(argument, option.name) == 0) {
            return &option;
        }
    }
    return nullptr;
}

// The exit status when the tool must end now: 0 after printing the usage for --help or -h (on
// standard output), 2 after naming an unknown option and printing the usage (on standard error).
// Nothing when the tool goes on. Arguments after "--" and the values of known options are not
// looked at.
inline std::optional<int> check(int argc, char **argv, const char *usage, std::initializer_list<Option> options = {})
{
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--") == 0)
            break;
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (!isOption(argument))
            continue;
        const Option *option = known(argument, options);
        if (!option) {
            std::fprintf(stderr, "%s: unknown option %s\n", argv[0], argument);
            std::fputs(usage, stderr);
            return 2;
        }
        if (option->values >= 0) {
            i += option->values;
        } else {
            while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0)
                ++i;
        }
    }
    return std::nullopt;
}

// The same for a tool that reads its command line with a QCommandLineParser that has the help
// option: the help on standard output and status 0, or the problem and the help on standard error
// and status 2. Returns only when the tool goes on.
inline void parseOrEnd(QCommandLineParser &parser, const QStringList &arguments)
{
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(arguments.value(0)), qPrintable(parser.errorText()));
        std::fputs(qPrintable(parser.helpText()), stderr);
        std::exit(2);
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
}

} // namespace ToolUsage
