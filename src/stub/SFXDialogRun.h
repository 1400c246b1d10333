// SFXDialogRun.h -- the main dialog's run: the Unzip command, Close and cancel, and the automatic run's end.
#ifndef SFXKIT_STUB_SFXDIALOGRUN_H
#define SFXKIT_STUB_SFXDIALOGRUN_H

#include <windows.h>

void UnzipCommand(HWND dialog);                                 // command 1
void CloseCommand(HWND dialog, WPARAM wParam, LPARAM lParam);   // command 2 (IDCANCEL)

#endif
