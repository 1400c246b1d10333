// SFXVars.cpp -- definitions of the process-wide state, with the initial values it starts from.
#include "SFXVars.h"

SfxSettingsRecord SfxSettings;
SfxString ModulePath;
HANDLE ArchiveHandle = nullptr;
HIMAGELIST SystemImageList = nullptr;
uint64_t ArchiveStart = 0;
uint64_t ArchiveBase = 0;

EntryArray EntryList;
uint32_t LongestName = 0;

MemberInfo CurrentEntry = {};
SfxString TemporaryFile;
ExitCode RunOutcome = ExitDone;
const WCHAR *PassedArguments = nullptr;
SfxString CreatedPaths;
SfxString PrivateFolder;
HANDLE PrivateFolderHandle = nullptr;
uint64_t ProgressDone = 0;
uint8_t ProgressShift = 0;
DWORD ProgressShown = 0;
bool Silent = false;
SfxString SwitchFolder;
bool ComInitialized = false;
HANDLE OutputHandle = nullptr;
bool DiscardOutput = false;
SfxString OutputName;
SfxString Password;
SfxString TargetFile;

HWND MainWindow = nullptr;
bool CancelRequested = false;
bool Extracting = false;
