// The program's own command line, answered before anything starts: --help and --version end the
// program at once, without a window or a catalog, and an option it does not know is refused rather
// than ignored. Settings ("-Key Value") and file names are left for start-up.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace OVNCommandLine {

struct Answer {
    int status = 0;
    QString standardOutput;
    QString standardError;
};

// What the program prints and its exit status when the command line asks for no start; nothing
// when the program starts. `arguments` includes the program's name first.
std::optional<Answer> answerBeforeStart(const QStringList &arguments, const QString &version);

QString usage();

} // namespace OVNCommandLine
