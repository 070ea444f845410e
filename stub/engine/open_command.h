// The command that opens a file with the program registered for its type.
#pragma once

namespace zevrin {

// command (PathSize bytes) holds a registered "shell\open\command" text
// and becomes the command to run: cut where "%1" in double quotes begins,
// or failing that where "%1" alone begins, then a space and the file path
// (unquoted) appended; a command without "%1" is kept whole. Whatever
// followed "%1" is dropped. False, command untouched, when the result
// would not fit: a path cut short would open another file.
bool BuildOpenCommand(char* command, const char* file);

} // namespace zevrin
