// SFXDialogRun.cpp -- the main dialog's run: the Unzip command, Close and cancel, the automatic start.
#include "SFXDialogRun.h"

#include "SFXPrompts.h"
#include "SFXProcsPath.h"
#include "SFXVars.h"

bool Extracting = false;

// Extraction is not wired up yet.
void UnzipCommand(HWND) {}

void CloseCommand(HWND dialog, WPARAM, LPARAM) {
  if (Extracting) return;
  SfxSettings.TargetFolder = GetEditText(dialog);
  if (FolderExists(SfxSettings.TargetFolder)) SetCurrentDirectoryA(SfxSettings.TargetFolder.Text());
  EndDialog(dialog, IDCANCEL);
}

void TimerTick(HWND dialog) {
  KillTimer(dialog, 0);
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}
