// The system log (syslog) as the place for Qt's messages of programs that talk to a terminal.
#pragma once

namespace SystemLog {

// Qt's messages go to the system log from now on, tagged with the program's name and process id,
// never to the terminal: a catalog's messages may quote a server's own text.
void takeQtMessages();

} // namespace SystemLog
