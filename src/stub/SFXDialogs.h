// SFXDialogs.h -- the main dialog: layout by option bits, Unzip, Close and the run's states.
#ifndef SFXKIT_STUB_SFXDIALOGS_H
#define SFXKIT_STUB_SFXDIALOGS_H

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
