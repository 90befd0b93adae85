#pragma once

#include <QLoggingCategory>

// What the decoding libraries say about the files they read (libtiff's warnings on a damaged
// camera file, a dozen a file) goes to the program's log under "ovn.decoding", at the info level,
// never to the terminal: set QT_LOGGING_RULES="ovn.decoding.info=true" to read it.
Q_DECLARE_LOGGING_CATEGORY(lcDecoding)

namespace LibraryMessages {

// Routes libtiff's process-wide warning and error handlers (also those of Qt's TIFF reader), and
// the messages Qt's image readers and format plugins log, to the log; once per process, from any
// thread. Other messages go on to the handler installed before.
void install();

// How many warnings about damaged data ("Corrupt JPEG data...", "Premature end...") Qt's image
// readers logged on this thread since install() routed them: a reader that read past damage says
// so only this way.
int imageDataWarnings();

} // namespace LibraryMessages
