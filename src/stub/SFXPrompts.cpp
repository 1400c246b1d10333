// SFXPrompts.cpp -- the FILEEXIST and PASSWD prompts and GetEditText.
#include "SFXPrompts.h"

#include "SFXDefs.h"
#include "SFXProcsFile.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"

SfxString GetEditText(HWND dialog) {
  int length = GetWindowTextLengthW(GetDlgItem(dialog, IdEdit));
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
          // Keys come from the password's bytes in the ANSI code page, as writers on
          // this system made them.
          Password = ToCodePage(CP_ACP, GetEditText(dialog));
          Password.Truncate(MaxPasswordLength);
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
