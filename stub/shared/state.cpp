// Definitions of the program-wide state declared in state.h.
#include "state.h"

char PackageSourcePath[PathSize];
char PackagePath[PathSize];
char InstallDir[PathSize];
char DestPath[PathSize];
char TempPath[PathSize];
char ErrorSubject[PathSize];
char UninstallerPath[PathSize];

FileHandle PackageHandle = INVALID_FILE_HANDLE;
uint32_t VolumeNumber;
uint32_t VolumeDataLength;
uint32_t VolumeBytesLeft;

char* MessageGroups[MessageGroupCount];

int PageResult;
int ErrorCode;
const uint8_t* PendingViewEntry;
const uint8_t* PendingLaunchEntry;
const uint8_t* PendingScreenSaverEntry;
