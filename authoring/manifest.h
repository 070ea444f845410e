// The build manifest: a TOML file that describes one package (texts,
// options, pictures, files). docs/manifest.md documents the schema.
//
// Loading checks everything that can be checked without the packaged
// files: types, ranges, names, lengths, the Windows-1252 character set,
// combinations that the installer would silently ignore. Reading the
// files themselves (sizes, versions, pictures) is the package writer's.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "../stub/engine/file_table.h" // the values of an entry's fields

namespace zevrin {

// Where a value came from, for messages: "demo.toml:12: files[2].name".
struct SourceRef {
    std::string file; // the manifest path as given
    unsigned line = 0;
    std::string key;  // dotted key path

    std::string Prefix() const; // "demo.toml:12: files[2].name: "
};

// One [[files]] entry. Strings are Windows-1252, paths use '\'.
struct ManifestFile {
    SourceRef ref;          // the [[files]] table ("files[2]")
    SourceRef sourceRef;    // its `source` key
    std::string source;     // host path, resolved against the manifest's folder; may be empty for external files
    std::string name;       // destination, relative to its folder
    uint8_t location = LocationInstall;
    uint8_t afterAction = AfterNone;
    bool sharedCount = false;
    uint8_t uninstallMode = UninstallRemove;
    uint8_t specialKind = SpecialNone;
    uint16_t iconIndex = 0;
    bool uninstaller = false;
    bool checkVersion = false;
    bool checkLanguage = false;
    bool keepTimes = true;
    // Overrides of what the version resource says.
    bool hasVersion = false;
    uint32_t versionMS = 0, versionLS = 0;
    bool hasLanguage = false;
    uint16_t language = 0;
    std::string menuFolders; // ';'-separated
    std::string menuName;
    std::string menuArgs;
    std::string desktopName;
    std::string desktopArgs;
    // The project's own uninstaller ([uninstaller]): source empty until the
    // build finds the built program; its texts (uninstaller/texts.h order)
    // are written into the copy that is packed.
    bool projectUninstaller = false;
    std::vector<std::string> uninstallerTexts;
    // The program is signed: packed as it is, its log written beside it.
    bool logBeside = false;
    // The modification time (a FILETIME) the entry carries when `source`
    // is a copy the build made: the program's, not the copy's, so that
    // the package does not depend on when it was built.
    bool hasWriteTime = false;
    uint64_t writeTime = 0;
};

const int TextGroupCount = 9; // groups 0..8; 8 is carried but not looked up

struct Manifest {
    std::string path;    // as given
    std::string baseDir; // relative paths in the manifest start here

    std::string productName;
    // What SETUP.EXE and the uninstaller say about themselves (their
    // version resource and icon); empty: not given.
    std::string productVersion; // as written; versionMS/LS its numbers
    uint32_t versionMS = 0, versionLS = 0;
    std::u16string publisher, copyright, description;
    std::string icon; // a .ico file
    SourceRef iconRef;
    std::string uninstallName; // empty: no uninstall registration
    bool hasStartPage = false;
    uint16_t startPage = 0xFFFF;
    std::string templates; // .rc or .res; empty: the default set
    SourceRef templatesRef;

    uint32_t headerFlags = 0;
    // Install options (record 4679); bit 0: files in time slices rather
    // than one a tick; bit 1: a per-user install; bit 2: the uninstall log
    // lists the folders made (with [uninstaller]); bit 3: a cancel or a
    // failure rolls the installation back; bit 4 (below). 0 writes no
    // record.
    uint32_t installOptions = 1 | 8;
    // Bit 5 of the install options: the uninstaller is signed, and its
    // texts (this message group, record 4700) and log go into a file
    // beside it. Empty: no record.
    std::vector<uint8_t> uninstallerTextsBeside;
    bool PerUser() const { return (installOptions & 2u) != 0; }
    // Bit 4: an installed older version is upgraded; set with our
    // uninstaller unless [product] upgrade = false. upgradeKeep: paths
    // (patterns) inside the install folder an upgrade keeps although the
    // new version no longer ships them (header record 4693).
    bool upgrade = true;
    std::vector<std::string> upgradeKeep;
    bool Upgrades() const { return (installOptions & 16u) != 0; }
    // Files with the same bytes packed once, later entries as copies.
    bool storeOnce = true;
    std::string defaultFolder;

    bool hasRegistry = false;
    uint32_t registryRoot = 2; // HKLM
    std::string registryKey;
    bool hasRegistryValue = false;
    std::string registryValue;

    bool hasProfile = false;
    std::string profileFile, profileSection, profileKey;

    bool hasBackgroundTitle = false;
    std::string backgroundTitle;
    uint8_t titleStyle[68] = {}; // shadow colour, text colour, LOGFONTA
    std::string backgroundPicture;
    SourceRef backgroundPictureRef;
    std::string framePicture;
    SourceRef framePictureRef;

    // Message groups 0..8 (a group of 8 only when the manifest sets one).
    std::vector<std::vector<std::string>> groups;

    std::vector<ManifestFile> files;
    std::vector<std::string> warnings;
    // Other files the manifest read (texts), which no output may replace.
    std::vector<std::pair<std::string, SourceRef>> readFiles;
};

// Parses `text` as the manifest `path` (used in messages and to resolve
// relative paths). False with `error` = "path:line: key: problem", one
// line per problem: every one that does not follow from another (each
// clash of destinations, each bad [[files]] entry, text or table, each
// unknown key); a TOML syntax error, an include or [define] that cannot
// be read stops at once.
// A relative path in the manifest names a file in the manifest's folder;
// when none is there, the first of `searchDirs` that has it (built files
// such as programs need not live beside the manifest).
// `defines`: variables for ${NAME} (-D NAME=VALUE), over the manifest's
// [define].
bool ParseManifest(const std::string& text, const std::string& path, Manifest* manifest,
                   std::string* error, const std::vector<std::string>& searchDirs = {},
                   const std::map<std::string, std::string>& defines = {});

// Reads and parses a manifest file.
bool LoadManifest(const std::string& path, Manifest* manifest, std::string* error,
                  const std::vector<std::string>& searchDirs = {},
                  const std::map<std::string, std::string>& defines = {});

// UTF-8 to Windows-1252. False with a description of the first character
// that has no Windows-1252 form (or of a control character other than
// tab, CR and LF, NUL included).
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi, std::string* problem);

// UTF-8 to UTF-16; false with a description of bad UTF-8 or of a control
// character.
bool Utf8ToUtf16(const std::string& utf8, std::u16string* out, std::string* problem);

// Windows-1252 to UTF-16.
std::u16string AnsiToUtf16(const std::string& ansi);

} // namespace zevrin
