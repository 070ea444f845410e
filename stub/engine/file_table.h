// The file table: one FileEntry per packaged file, back to back. Portable:
// the stub installs from it, the authoring tool writes and reads it.
#pragma once

#include <cstdint>

#include "../shared/byte_cursor.h"
#include "../shared/platform.h"

namespace zevrin {

// Field offsets inside a FileEntry (little-endian).
enum : uint32_t {
    EntryNextOffset = 0,  // u16: size of this entry
    EntryStatus = 2,      // u16: written at run time
    EntryIconIndex = 4,   // u16
    EntryPackedSize = 6,  // u32: bytes of its stream in the file-data region
    EntryFileSize = 10,   // u32
    EntryChecksum = 14,   // u32: RotateAddSum of the file
    EntryFlags = 18,      // byte
    EntryLocation = 19,   // byte: 0 install folder, 1 Windows, 2 shared system, 3 font
    EntryAfterAction = 20, // byte: 0 none, 1 view, 2 launch
    EntrySharedCount = 21, // byte
    EntryUninstallMode = 22, // byte: 0 leave, 1 remove at uninstall, 2 external file
    EntrySpecialKind = 23,  // byte: 0 none, 1 screen saver, 2 self-registering
    EntryFixedSize = 24,
    VersionBlockSize = 20,
    FileTimesSize = 24,
    SourceEntrySize = 4,
};

// Values of the byte fields.
enum : uint8_t { LocationInstall = 0, LocationWindows = 1, LocationShared = 2, LocationFont = 3 };
enum : uint8_t { AfterNone = 0, AfterView = 1, AfterLaunch = 2 };
// UninstallExternal: a file that lies beside the package, with no stream.
enum : uint8_t { UninstallLeave = 0, UninstallRemove = 1, UninstallExternal = 2 };
enum : uint8_t { SpecialNone = 0, SpecialScreenSaver = 1, SpecialSelfRegister = 2 };

enum : uint8_t {
    FlagUninstallerFile = 1,
    FlagCheckVersion = 2,
    FlagCheckLanguage = 4,
    FlagHasFileTimes = 8,
    // The same bytes as an earlier entry, whose u32 index follows the file
    // times; no stream of its own (PackedSize 0, which older readers refuse).
    FlagSameAsEntry = 16,
};

enum : uint16_t { StatusNone = 0, StatusReplaced = 23, StatusCreated = 25, StatusFailed = 27, StatusAtRestart = 500 };

enum EntryStringIndex { FileNameString, MenuFoldersString, MenuLinkNameString, MenuLinkArgsString,
                        DesktopLinkNameString, DesktopLinkArgsString, EntryStringCount };

// For the authoring tool and tests, which read tables they hold whole;
// the stub itself reads package bytes through a ByteCursor.
inline uint16_t ReadU16(const uint8_t* p) { return ByteCursor(p, 2).U16(); }
inline uint32_t ReadU32(const uint8_t* p) { return ByteCursor(p, 4).U32(); }
inline void WriteU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// The walkers below read an entry inside its own NextOffset bytes, which
// CheckFileTable has found inside the table.
// Offset of the six strings: after the fixed part and the optional blocks.
uint32_t EntryStringsOffset(const uint8_t* entry);
// String n (0..5) of an entry; "" should it not end inside the entry.
const char* EntryString(const uint8_t* entry, int n);
const uint8_t* NextEntry(const uint8_t* entry);
// A one-byte field of an entry (EntryFlags .. EntrySpecialKind), and a
// u32 one (EntryPackedSize, EntryFileSize, EntryChecksum).
uint8_t EntryByte(const uint8_t* entry, uint32_t field);
uint32_t EntryU32(const uint8_t* entry, uint32_t field);
// The earlier entry whose bytes an entry with FlagSameAsEntry installs.
uint32_t EntrySourceIndex(const uint8_t* entry);
inline uint8_t* NextEntry(uint8_t* entry) { return const_cast<uint8_t*>(NextEntry(static_cast<const uint8_t*>(entry))); }
// The Status the run has written into an entry (a StatusNone .. value).
inline uint16_t EntryStatusOf(const uint8_t* entry) { return ReadU16(entry + EntryStatus); }
inline void SetEntryStatus(uint8_t* entry, uint16_t status) { WriteU16(entry + EntryStatus, status); }
// Whether the entry's file is counted in the shared-file usage counters:
// only files outside the install folder are.
inline bool CountsAsShared(const uint8_t* entry)
{
    return EntryByte(entry, EntryLocation) != LocationInstall && EntryByte(entry, EntrySharedCount) == 1;
}

// True when `size` bytes hold a u32 count and that many well-formed
// entries: each at least as long as its parts, inside the table, with its
// six strings ending inside the entry, and each entry with a stream (every
// one but the external files and the copies) with a PackedSize of at
// least 1: an empty file still has a stream, and a bounded decode of 0
// bytes would read without bound. A copy (FlagSameAsEntry) has PackedSize
// 0 and names an earlier entry with a stream of its own, of the same size
// and checksum; neither may be the uninstaller or external. Everything that walks the table relies on this having
// been checked once when the header was read. On false, *badEntry (when
// given) is the index of the first entry that is malformed or missing, 0
// when the table is too short to hold its count.
bool CheckFileTable(const uint8_t* table, uint32_t size, uint32_t* badEntry = nullptr);

} // namespace zevrin
