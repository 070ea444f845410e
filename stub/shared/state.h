// Program-wide state of one run. The program has one thread and one
// instance of each of these; every subsystem reads them from here.
#pragma once

#include <cstdint>

#include "platform.h"

const uint32_t PathSize = 260; // 259 characters and the terminator

// Path buffers, alive for the whole run.
extern char PackageSourcePath[PathSize]; // the package file as started
extern char PackagePath[PathSize];       // the package volume being read
extern char InstallDir[PathSize];
extern char DestPath[PathSize];
extern char TempPath[PathSize];
extern char ErrorSubject[PathSize];
extern char UninstallerPath[PathSize];

// Package volumes, advanced while the file-data region is read.
extern FileHandle PackageHandle;
extern uint32_t VolumeNumber;     // 0 = the package file itself
extern uint32_t VolumeDataLength; // data bytes in the current volume
extern uint32_t VolumeBytesLeft;  // of those, not yet read by bounded sources

// Message groups 0..8, each null or an unpacked group.
const int MessageGroupCount = 9;
extern char* MessageGroups[MessageGroupCount];

// Page-run state and the outcome of the installation.
enum : int { PageRunning = 0, PageNext = 1, PageCancel = 2, PageBack = 1007 };
extern int PageResult;
extern int ErrorCode; // also the group 6 index of its text
extern const uint8_t* PendingViewEntry;
extern const uint8_t* PendingLaunchEntry;
extern const uint8_t* PendingScreenSaverEntry;

// Error numbers shown to the user (group 6 indices).
enum : int {
    ErrorAccessCheck = 9,
    ErrorDiskSpace = 11,
    ErrorNotCompleted = 15,
    ErrorCannotOpen = 16,
    ErrorCannotCreate = 17,
    ErrorChecksum = 21,
    ErrorNotReplaced = 22
};
