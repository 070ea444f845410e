// The plain-text log of a run (/LOG): one line per event, each written to
// the file at once, so that a run that is killed leaves everything up to
// that point readable. A log that cannot be opened or written is dropped
// without a word: it never stops an installation.
#pragma once

namespace zevrin {

// Creates (or empties) the log at `path`, whose folder must exist. False
// when it cannot; nothing is logged then.
bool OpenRunLog(const char* path);
void CloseRunLog();
bool RunLogOpen();

// One line, "hh:mm:ss.mmm " and the text as wsprintfA formats it (at most
// 1024 characters). Does nothing without a log.
void LogLine(const char* format, ...);

} // namespace zevrin
