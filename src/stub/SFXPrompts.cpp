// SFXPrompts.cpp -- the FILEEXIST and PASSWD prompts and GetEditText.
#include "SFXPrompts.h"

#include "SFXDefs.h"
#include "SFXProcsFile.h"
#include "SFXStrings.h"
#include "SFXVars.h"

SfxString GetEditText(HWND dialog) {
  SfxString text;
  int length = GetWindowTextLengthA(GetDlgItem(dialog, IdEdit));
  if (length > 0) {
    // Twice the length: in a multi-byte code page the length may be counted short.
    char *buffer = text.SetLength(2 * (uint32_t)length);
    GetDlgItemTextA(dialog, IdEdit, buffer, 2 * length + 1);
    text.CutAtNul();
  }
  return text;
}

INT_PTR CALLBACK FileExistDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, IdEdit, SubstituteText(STR_FILE_EXISTS, TargetFile).Text());
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
      SetWindowTextA(dialog, STR_ENTER_PASSWORD);
      SetFocus(GetDlgItem(dialog, IdEdit));
      break;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          Password = GetEditText(dialog);
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
            EnableWindow(GetDlgItem(dialog, IDOK), GetWindowTextLengthA((HWND)lParam) > 0);
          break;
      }
      break;
    case WM_CLOSE:
      Password.Release();
      EndDialog(dialog, IDCANCEL);
      break;
  }
  return FALSE;
}
