// SFXVars.cpp -- definitions of the process-wide state, with the initial values it starts from.
#include "SFXVars.h"

SfxSettingsRecord SfxSettings;
SfxString ModulePath;
HANDLE ArchiveHandle = INVALID_HANDLE_VALUE;
HIMAGELIST SystemImageList = nullptr;
uint32_t ArchiveStart = 0;
uint32_t ArchiveBase = 0;

uint8_t LocalHeaderSignature[4] = {'O', 'K', 3, 4};
uint8_t CentralHeaderSignature[4] = {'O', 'K', 1, 2};
uint8_t EndRecordSignature[4] = {'O', 'K', 5, 6};

EntryArray EntryList;

ArchiveEntry CurrentEntry = {};
HANDLE OutputHandle = INVALID_HANDLE_VALUE;
SfxString OutputName;
SfxString Password;
SfxString TargetFile;

HWND MainWindow = nullptr;
bool CancelRequested = false;

int64_t CompressedLeft = 0;
uint32_t EntryCrc = 0;
uint32_t CryptKeys[3] = {0, 0, 0};
bool EntryEncrypted = false;
