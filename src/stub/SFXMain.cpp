// SFXMain.cpp -- start-up, the start sequence up to the modal main dialog, and the orderly end.
#include "SFXMain.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "SFXDefs.h"
#include "SFXDialogs.h"
#include "SFXProcsCleanup.h"
#include "SFXProcsConfig.h"
#include "SFXProcsExtract.h"
#include "SFXProcsFile.h"
#include "SFXProcsFolder.h"
#include "SFXProcsPath.h"
#include "SFXSwitches.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"
#include "crc32.h"
#include "inflate.h"

void HardenProcess() {
  // No "insert a disk" or "cannot open file" boxes from the system on our behalf.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // Whatever gets loaded later (the shell loads many DLLs on demand) comes from
  // the system directory, never from the folder the download landed in. Looked
  // up at run time: systems without the update lack the function.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC setDirectories = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (setDirectories) ((decltype(&SetDefaultDllDirectories))(void *)setDirectories)(LOAD_LIBRARY_SEARCH_SYSTEM32);
  else SetDllDirectoryA("");  // at least take the current directory out of the search
}

void InitializeModules() {
  CompleteSignatures();
  SfxSettings.Title = STR_DEFAULT_TITLE;
  BuildFixedTables();
}

void RunStub() {
  InitCommonControls();

  // Started from a folder deeper than MAX_PATH, the path is long; one cut short
  // (the system then fills the whole buffer) would open some other file.
  WideBuffer path(LongPathChars);
  ModulePath = path.Result(GetModuleFileNameW(nullptr, path, LongPathChars));

  ArchiveHandle = CreateFileW(WideText(SystemPath(ModulePath)), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ArchiveHandle == INVALID_HANDLE_VALUE) FatalError(SubstituteText(STR_ERROR_READING, ModulePath));

  BuildCrcTable();
  // The block's texts first, so that the switches' box has the publisher's title.
  ReadSettings();
  ReadSwitches();
  SettleSettings();
  if (!SwitchFolder.Empty()) SfxSettings.TargetFolder = ExpandFullPath(SwitchFolder);
  // A silent run is an automatic one whose dialog is never shown.
  if (Silent) SfxSettings.Options |= OptAutoUnzip;

  SHFILEINFOW info = {};
  SystemImageList = (HIMAGELIST)SHGetFileInfoW(WideText(ModulePath), 0, &info, sizeof info,
                                                SHGFI_SYSICONINDEX | SHGFI_SMALLICON);

  // Without a desktop to create it on (no display, a service's session) the dialog
  // never exists and nothing is unpacked: a failure, whatever the switches, and
  // with no window to show a box in.
  if (DialogBoxParamW(GetModuleHandleW(nullptr), L"MAINDIALOG", nullptr, MainDialogProc, 0) == -1)
    FatalError(SfxString());
  EndProcess(RunOutcome);
}

void EndProcess(UINT exitCode) {
  FinalizeProcs();
  // Once every file of ours is closed. A file left behind is told by the exit
  // code when the program's own code says nothing went wrong.
  if (!RemoveCreated((SfxSettings.Options & OptCleanUp) != 0) && exitCode == ExitDone) exitCode = ExitLeftBehind;
  if (ComInitialized) CoUninitialize();
  ComInitialized = false;
  SfxSettings.Title.Release();
  SfxSettings.TargetFolder.Release();
  SfxSettings.RunCommand.Release();
  SfxSettings.StartMessage.Release();
  ModulePath.Release();
  OutputName.Release();
  Password.Release();
  TargetFile.Release();
  TemporaryFile.Release();
  SwitchFolder.Release();
  CreatedPaths.Release();
  ExitProcess(exitCode);
}
