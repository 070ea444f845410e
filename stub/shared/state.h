// Program-wide state of one run. The program has one thread and one
// instance of each of these; every subsystem reads them from here.
#pragma once

#include <cstdint>

#include "platform.h"

namespace zevrin {

const uint32_t PathSize = 260; // 259 characters and the terminator

// Path buffers, alive for the whole run.
extern char PackageSourcePath[PathSize]; // the package file as started
extern char PackagePath[PathSize];       // the package volume being read
extern char InstallDir[PathSize];
extern char DestPath[PathSize];
extern char TempPath[PathSize];
extern char ErrorSubject[PathSize];
extern char UninstallerPath[PathSize];
// Where its log goes: the uninstaller, or the copy that replaces it at the
// next start when it was in use.
extern char UninstallLogPath[PathSize];

// Package volumes, advanced while the file-data region is read.
extern FileHandle PackageHandle;
extern uint32_t VolumeNumber;     // 0 = the package file itself
extern uint32_t VolumeDataLength; // data bytes in the current volume
extern uint32_t VolumeBytesLeft;  // of those, not yet read by bounded sources

// The stamp record in the program's initialised data: the authoring tool
// finds it by its marker and patches StubLength and the StartPage default.
const uint32_t StampRecordSize = 24;
extern volatile uint8_t StampRecord[StampRecordSize];
uint32_t StubLength();
uint16_t StampStartPage();

// Header variables, written by the header reader and read everywhere. Each
// pointer is null or an owned buffer, freed by FreeHeaderData at exit.
enum : uint32_t {
    FlagFullScreen = 1,       // full-screen background window
    FlagFolderEditable = 2,   // the directory page lets the user change it
    FlagRecordInRegistry = 4, // write the folder back to the registry
    FlagRecordInProfile = 8,  // write the folder back to a profile file
};
extern uint32_t HeaderFlags;
// Install options (record 4679); 0 when the record is absent, which keeps
// the pacing older packages were made for.
enum : uint32_t {
    OptionTimedPacing = 1, // the progress page installs files in time slices
    OptionPerUser = 2,     // installed for the current user only, without elevation
    OptionLogFolders = 4,  // the uninstall log lists the folders made and the remembered folder
    OptionRollBack = 8,    // a cancel or a failure during the installation takes it all back
    OptionUpgrade = 16,    // an installed older version is upgraded: one log, dropped files removed
    // The uninstaller is signed: its log goes to a file beside it, never
    // into the program, which would break the signature.
    OptionLogBeside = 32,
};
extern uint32_t InstallOptions;
inline bool TimedPacing() { return (InstallOptions & OptionTimedPacing) != 0; }
inline bool PerUserInstall() { return (InstallOptions & OptionPerUser) != 0; }
inline bool LogFolders() { return (InstallOptions & OptionLogFolders) != 0; }
inline bool RollBackWanted() { return (InstallOptions & OptionRollBack) != 0; }
inline bool Upgrades() { return (InstallOptions & OptionUpgrade) != 0; }
inline bool LogBeside() { return (InstallOptions & OptionLogBeside) != 0; }
extern uint16_t StartPage; // 0xFFFF = wizard mode
const uint16_t WizardMode = 0xFFFF;
extern uint8_t* FrameBitmap;
extern uint8_t* BackgroundBitmap;
extern char* UninstallName;
extern char* BackgroundTitle;
extern uint32_t PrevDirRootIndex;
extern char* PrevDirKey;
extern char* PrevDirValue;
extern char* PrevDirIniFile;
extern char* PrevDirIniSection;
extern char* PrevDirIniKey;
// Record 4693: files an upgrade keeps though the new version drops them,
// '|'-separated patterns of paths inside the install folder.
extern char* UpgradeKeep;
extern uint8_t* TemplateBlob;
extern uint32_t TemplateBlobSize;
extern uint8_t* FileTable;
extern uint32_t EntryCount;
extern uint8_t* FirstEntry;
extern uint8_t* TitleStyle; // 68 bytes when present
// Record 4700: the uninstaller's message group, written at the start of
// the log beside a signed uninstaller (null: none).
extern uint8_t* UninstallerTexts;
const uint32_t TitleStyleSize = 68;
extern bool PackageComplete;
extern uint32_t DataLengthOffset; // file offset right after the terminator's head

// Message groups 0..8, each null or an unpacked group.
const int MessageGroupCount = 9;
extern char* MessageGroups[MessageGroupCount];

// Platform and command line, learnt at start-up.
extern bool IsWindowsNT;  // NT family: MoveFileExA for restart work
extern bool IsWindowsNT4; // NT 4: solid gradient bands
extern bool DeleteSelfMode; // /DEL: the running file goes at the next restart
// /Q and /QP: how much of the wizard an unattended run shows.
enum : uint8_t {
    RunInteractive = 0,       // every page, every question
    RunQuiet = 1,        // /Q: no window at all
    RunProgressOnly = 2, // /QP: the progress page alone
};
extern uint8_t RunMode;
inline bool Unattended() { return RunMode != RunInteractive; }
// Set while an unattended run answers the installer's questions itself
// (message_box.cpp); cleared around a question the user asked for.
extern bool AnswerQuestionsQuietly;
extern char CommandLineDir[PathSize]; // /DIR: the install folder; "" = none
extern char RunLogPath[PathSize];     // /LOG: the plain-text log; "" = none

// Page-run state and the outcome of the installation.
enum : int { PageRunning = 0, PageNext = 1, PageCancel = 2, PageBack = 1007 };
extern int PageResult;
// Ends the running page so that the sequencer opens page n next.
void GoToPage(int n);
extern int CurrentPage; // 0..6, -1 = the wizard is over
const int PageCount = 7;
const int EndPage = PageCount - 1; // no dialog: reaching it ends the wizard
enum : unsigned {
    ButtonBack = 1,
    ButtonNext = 2,
    ButtonCancel = 4,
    ButtonQuietCancel = 0x100, // Cancel ends without asking
};
extern unsigned ButtonState;
extern int LaunchChecked;      // launch the program after the wizard
extern bool ReadOnlyFilesFound; // set by the disk-space check
extern bool InstallRunning;
extern bool RebootNeeded;
extern int ErrorCode; // also the group 6 index of its text
// How the installation ended, for the exit code.
enum : uint8_t {
    OutcomeNone = 0,      // the files were never installed (nor cancelled)
    OutcomeInstalled = 1, // every file in place and the follow-ups done
    OutcomeFailed = 2,    // stopped by an error (ErrorCode)
    OutcomeCancelled = 3, // the user cancelled
};
extern uint8_t InstallOutcome;
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

} // namespace zevrin
