// SFXPrompts.cpp -- the FILEEXIST and PASSWD prompts, GetEditText, and the forms
// of the password that are tried.
#include "SFXPrompts.h"

#include "SFXDefs.h"
#include "SFXProcsFile.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"

SfxString GetEditText(HWND dialog, int most) {
  int length = GetWindowTextLengthW(GetDlgItem(dialog, IdEdit));
  if (length > most) length = most;
  if (length <= 0) return SfxString();
  WideBuffer text((uint32_t)length);
  GetDlgItemTextW(dialog, IdEdit, text, length + 1);
  return text.Text();
}

INT_PTR CALLBACK FileExistDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextW(dialog, IdEdit, WideText(SubstituteText(STR_FILE_EXISTS, TargetFile)));
      SetFocus(GetDlgItem(dialog, IDOK));
      return FALSE;
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      if (id != IDOK && id != IDCANCEL) return FALSE;
      // "Don't ask again" turns this answer into the standing policy of the main dialog.
      if (IsDlgButtonChecked(dialog, IdDontAskAgain) == BST_CHECKED) {
        bool yes = id == IDOK;
        CheckRadioButton(MainWindow, IdOverwrite, IdAsk, yes ? IdOverwrite : IdDontOverwrite);
        SfxSettings.OverwriteMode = yes ? ModeOverwrite : ModeDontOverwrite;
      }
      EndDialog(dialog, id);
      return TRUE;
    }
  }
  return FALSE;
}

INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextW(dialog, WideText(STR_ENTER_PASSWORD));
      SetFocus(GetDlgItem(dialog, IdEdit));
      break;
    case WM_CLOSE:  // closing the box is Cancel
      wParam = IDCANCEL;
      [[fallthrough]];
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          Password = GetEditText(dialog, MaxPasswordLength);
          EndDialog(dialog, IDOK);
          break;
        case IDCANCEL:
          Password.Release();
          EndDialog(dialog, IDCANCEL);
          break;
        case IdEdit:
          // Ok only while there is something to confirm: an empty password never passes.
          if (HIWORD(wParam) == EN_CHANGE)
            EnableWindow(GetDlgItem(dialog, IDOK), GetWindowTextLengthW((HWND)lParam) > 0);
          break;
      }
      break;
  }
  return FALSE;
}

PasswordCheck CheckPasswordForms(const MemberInfo &member, uint8_t *header) {
  static const UINT pages[] = {CP_UTF8, CP_ACP, CP_OEMCP};
  SfxString forms[3];
  PasswordCheck check = PasswordCheck::Refused;
  for (uint32_t i = 0; i < 3 && check == PasswordCheck::Refused; i++) {
    forms[i] = ToCodePage(pages[i], Password);
    bool tried = false;
    for (uint32_t k = 0; k < i; k++) tried = tried || forms[k].Equals(forms[i]);
    if (!tried) check = CheckMemberPassword(member, header, forms[i].Text(), forms[i].Length());
  }
  return check;
}
