// SFXPrompts.h -- the FILEEXIST and PASSWD prompts, GetEditText, and the forms
// of the password that are tried.
#ifndef SFXKIT_STUB_SFXPROMPTS_H
#define SFXKIT_STUB_SFXPROMPTS_H

#include <windows.h>

#include "SFXString.h"
#include "decrypt.h"

// The text of control 201 of a dialog (folder box, password field), its first
// `most` UTF-16 characters.
SfxString GetEditText(HWND dialog, int most = 0x7FFFFFFF);
INT_PTR CALLBACK FileExistDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Checks Password (UTF-8, as typed) against the protection header of `member`
// (laid out as CheckMemberPassword takes it) in the forms writers made of typed
// text, each once: UTF-8 (what sfxmake writes for AES and the form writers agree
// on), then the system's ANSI and OEM code pages (what tools on this system
// made). The AES verifier or the traditional check byte decides.
PasswordCheck CheckPasswordForms(const MemberInfo &member, uint8_t *header);

#endif
