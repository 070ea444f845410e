// The rollback journal: what an installation changed, step by step, so
// that a cancel or a failure can take it all back, newest first. Portable:
// the steps are kept in memory; the Win32 side (win32/rollback.cpp) makes
// and undoes them.
#pragma once

#include <cstdint>

namespace zevrin {

enum : uint8_t {
    StepFileMade = 1,     // path: a file that was not there
    StepFileReplaced = 2, // path: the file, other: the old one set aside
    StepAtRestart = 3,    // path: the destination, other: the file waiting for the restart
    StepSharedCount = 4,  // path: the value name; a: 1 when it was there, b: its type; other: its bytes
    StepFont = 5,         // path: the font file; a, b as above; other: value name, 0, its bytes
};

struct JournalStep {
    uint8_t kind;
    uint32_t a;
    uint32_t b;
    const char* path;
    const uint8_t* other;
    uint32_t otherLength;
};

// Appends a step; `other` may be null. False (nothing added) without
// memory for it.
bool JournalAdd(uint8_t kind, const char* path, const void* other = nullptr, uint32_t otherLength = 0,
                uint32_t a = 0, uint32_t b = 0);
// A string as the step's other part, with its terminator.
bool JournalAddPair(uint8_t kind, const char* path, const char* other);
// Removes the newest step (one whose change did not happen after all).
void JournalDropLast();
void ClearJournal();
uint32_t JournalCount();

// Walks: position 0 is the start, JournalEnd() the end. JournalNext reads
// the step at *at and moves past it; JournalPrevious reads the step before
// *at and moves onto it. False at the end (the start).
uint32_t JournalEnd();
bool JournalNext(uint32_t* at, JournalStep* step);
bool JournalPrevious(uint32_t* at, JournalStep* step);

// The name the file at path is set aside under, beside itself: the path
// with ".zvbak" added, and a number from 2 on for the try after the
// first. False when it does not fit in size bytes (terminator included).
bool BackupName(const char* path, unsigned attempt, char* out, uint32_t size);

} // namespace zevrin
