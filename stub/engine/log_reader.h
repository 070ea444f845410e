// Reading the uninstall log back: the records the installer appended to
// this program's file, behind its PE image. Portable: it works on the
// file's bytes in memory and never touches the system.
//
// After the image: an optional texts record (the publisher's texts, put
// there by the authoring tool), then the log: 4661 files, 4662 shortcuts
// (optional), 4664 uninstall key and its root (optional; always there
// for a per-user installation, with an empty key when it registered
// none), then for packages that ask 4690 folders made, 4691 the remembered
// registry value (optional), 4692 the remembered profile entry (optional),
// then for packages that upgrade 4694 the size and checksum of each file
// item, and the empty terminator head, which ends the file. Anything else
// is a damaged log, refused whole.
// A signed uninstaller cannot carry them: the same records then make up
// a file of their own beside it (UninstallLogBesidePath).
#pragma once

#include <cstdint>

#include "uninstall_log.h"
#include "../shared/byte_cursor.h"
#include "../shared/state.h"

namespace zevrin {

enum LogProblem : int {
    LogOk = 0,
    LogNoImage,    // the file does not start with a PE image we can measure
    LogNotWritten, // only the delivered tail: no installation wrote a log
    LogDamaged,    // anything else: cut short, lengths or counts that lie, a path that leaves its folder
    LogUnreadable, // the uninstaller, or the log beside it, is there but cannot be read
};

// A counted string of the log: not NUL-terminated, never longer than
// PathSize - 1, without NUL bytes.
struct LogText {
    const char* text = nullptr;
    uint16_t length = 0;
};

struct LogItem {
    LogText folder; // "." or ".\sub" inside the install folder, else a full path
    LogText name;
    uint8_t flags = 0; // LogItemShared, LogItemFont, LogItemSelfRegister (files only)
};

struct UninstallLogView {
    uint32_t imageEnd = 0;
    uint32_t logStart = 0; // file offset of the 4661 head
    uint32_t fileSize = 0;
    const uint8_t* texts = nullptr; // the texts record's body, or null
    uint32_t textsSize = 0;
    ByteCursor files; // the items of 4661, after its count
    uint32_t fileCount = 0;
    ByteCursor shortcuts; // the items of 4662, after its count
    uint32_t shortcutCount = 0;
    bool hasKey = false;
    LogText key; // below the root, always under UninstallKeyPrefix
    // A per-user installation (4664's root HKEY_CURRENT_USER): its key and
    // shared counts are the user's; else HKEY_LOCAL_MACHINE's.
    bool perUser = false;
    // Written for packages that ask: the folders the installation made
    // (a parent before its children), and where it remembered the install
    // folder. With hasFolders the uninstaller removes only those folders.
    bool hasFolders = false;
    ByteCursor folders; // counted full paths, after the count
    uint32_t folderCount = 0;
    bool hasRegistryValue = false;
    uint32_t registryRoot = 0; // LogRootFirst..LogRootLast
    LogText registryKey;
    LogText registryValue; // empty: the key's default value
    uint8_t registryMadeParts = 0;
    bool hasProfileEntry = false;
    LogText profileFile, profileSection, profileKey;
    uint8_t profileFlags = 0; // LogProfileNewSection, LogProfileNewFile
    // Written by packages that upgrade: per 4661 item, in its order, the
    // size (LogNoSum: none) and checksum it was installed with.
    bool hasSums = false;
    ByteCursor sums; // after the count, fileCount pairs
};

struct LogSum {
    uint32_t size = LogNoSum;
    uint32_t sum = 0;
};

// The file offset where the PE image ends: the end of its headers or of
// its last section's raw data, whichever is later. 0 when the bytes are
// not a PE image or it claims more than there is.
uint32_t PeImageEnd(const uint8_t* file, uint32_t size);

// Checks the whole log before anything uses it. On LogOk every item has
// been read once: the cursors give exactly the counted items. The texts
// are found (and kept in `log`) even when the log itself is refused, so
// that the refusal is worded by the publisher.
LogProblem ReadUninstallLog(const uint8_t* file, uint32_t size, UninstallLogView* log);

// The log of a signed uninstaller: the same records as after an unsigned
// one's image, making up the whole file beside it.
LogProblem ReadUninstallLogBeside(const uint8_t* beside, uint32_t size, UninstallLogView* log);

// True when the PE image carries an Authenticode signature (a certificate
// table in its data directories): nothing may then be added to the file.
bool PeHasSignature(const uint8_t* file, uint32_t size);

// The bytes a loaded log's view points into, and where the log was.
struct InstalledLog {
    uint8_t* program = nullptr;
    uint32_t programSize = 0;
    bool beside = false; // the log is the file at besidePath
    char besidePath[PathSize] = {};
    uint8_t* besideBytes = nullptr;
    uint32_t besideSize = 0;
};

// The log of the uninstaller at uninstallerPath, wherever it lies: after
// the image of an unsigned program, in the file beside a signed one. The
// only place that decides where an installed log is. A signed program
// without the file beside it gets LogNotWritten. `loaded` owns the bytes
// until FreeInstalledLog.
LogProblem LoadUninstallLog(const char* uninstallerPath, InstalledLog* loaded, UninstallLogView* log);
void FreeInstalledLog(InstalledLog* loaded);

// The next item of a cursor ReadUninstallLog checked. Shortcut items have
// no flags byte.
LogItem NextLogFile(ByteCursor* items);
LogItem NextLogShortcut(ByteCursor* items);
LogText NextLogFolder(ByteCursor* items);
// Record 4690's folders as an array, for walking them deepest first (the
// log lists a parent before its children); freed with FreeAndClear. Null
// when there are none or memory runs out.
LogText* LogFolderArray(const UninstallLogView& log);
LogSum NextLogSum(ByteCursor* sums);

// A log text as a C string into out (PathSize bytes).
void LogTextCopy(const LogText& text, char* out);

// The item's full path into out (PathSize bytes): a relative folder is
// taken inside installDir (which ends in '\'). False when it does not fit,
// or when the item is relative and installDir is empty.
bool LogItemPath(const LogItem& item, const char* installDir, char* out);

// The install folder (with its final '\') the relative items name. The
// installer never lists the uninstaller in its own log, but registers it
// as the uninstall key's UninstallString: the log is the one this file was
// installed with when that value (`registered`, as read from the key the
// log names; quotes around it allowed) is ownPath, and then the install
// folder is ownPath's folder. True with installDir empty when no item is
// relative; false when some are and the uninstaller is not where it was
// installed (a copy elsewhere would take its own folder for the install
// folder and remove files of the same names there).
bool FindInstallDir(const UninstallLogView& log, const char* ownPath, const char* registered, char* installDir);

} // namespace zevrin
