// Definitions of the program-wide state declared in state.h.
#include "state.h"

#include "byte_cursor.h"

namespace zevrin {

char PackageSourcePath[PathSize];
char PackagePath[PathSize];
char InstallDir[PathSize];
char DestPath[PathSize];
char TempPath[PathSize];
char ErrorSubject[PathSize];
char UninstallerPath[PathSize];
char UninstallLogPath[PathSize];

FileHandle PackageHandle = INVALID_FILE_HANDLE;
uint32_t VolumeNumber;
uint32_t VolumeDataLength;
uint32_t VolumeBytesLeft;

// Marker "ww" "gT)H", StubLength, reserved, StartPage default (none),
// reserved. Not const, so that it stays in initialised data.
volatile uint8_t StampRecord[StampRecordSize] = {
    0x77, 0x77, 0x67, 0x54, 0x29, 0x48, // marker
    0, 0, 0, 0,                         // StubLength
    0, 0, 0, 0, 0, 0, 0, 0,             // reserved
    0xFF, 0xFF,                         // StartPage: wizard mode
    0, 0, 0, 0,                         // reserved
};

namespace {

// The record is volatile (the tool patches it in the file, so it must not
// be folded into constants): read from a copy.
uint32_t StampField(uint32_t offset, uint32_t width)
{
    uint8_t copy[StampRecordSize];
    for (uint32_t i = 0; i < StampRecordSize; ++i)
        copy[i] = StampRecord[i];
    ByteCursor in(copy, StampRecordSize);
    in.Skip(offset);
    return width == 4 ? in.U32() : in.U16();
}

} // namespace

uint32_t StubLength() { return StampField(6, 4); }

uint16_t StampStartPage() { return static_cast<uint16_t>(StampField(18, 2)); }

uint32_t HeaderFlags;
uint32_t InstallOptions;
uint16_t StartPage = WizardMode;
uint8_t* FrameBitmap;
uint8_t* BackgroundBitmap;
char* UninstallName;
char* BackgroundTitle;
uint32_t PrevDirRootIndex;
char* PrevDirKey;
char* PrevDirValue;
char* PrevDirIniFile;
char* PrevDirIniSection;
char* PrevDirIniKey;
char* UpgradeKeep;
uint8_t* TemplateBlob;
uint32_t TemplateBlobSize;
uint8_t* FileTable;
uint32_t EntryCount;
uint8_t* FirstEntry;
uint8_t* TitleStyle;
uint8_t* UninstallerTexts;
bool PackageComplete;
uint32_t DataLengthOffset;

char* MessageGroups[MessageGroupCount];

bool IsWindowsNT;
bool IsWindowsNT4;
bool DeleteSelfMode;
uint8_t RunMode;
bool AnswerQuestionsQuietly;
char CommandLineDir[PathSize];
char RunLogPath[PathSize];

int PageResult;
int CurrentPage;
unsigned ButtonState;
int LaunchChecked = 1;
bool ReadOnlyFilesFound;
bool InstallRunning;
bool RebootNeeded;
int ErrorCode;
uint8_t InstallOutcome;
const uint8_t* PendingViewEntry;
const uint8_t* PendingLaunchEntry;
const uint8_t* PendingScreenSaverEntry;

void GoToPage(int n)
{
    // The sequencer adds one on Next.
    CurrentPage = n - 1;
    PageResult = PageNext;
}

} // namespace zevrin
