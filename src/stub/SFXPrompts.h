// SFXPrompts.h -- the FILEEXIST and PASSWD prompts and GetEditText.
#ifndef SFXKIT_STUB_SFXPROMPTS_H
#define SFXKIT_STUB_SFXPROMPTS_H

#include <windows.h>

#include "SFXString.h"

// The text of control 201 of a dialog (folder box, password field).
SfxString GetEditText(HWND dialog);
INT_PTR CALLBACK FileExistDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
