// SFXPrompts.cpp -- the FILEEXIST and PASSWD prompts and GetEditText.
#include "SFXPrompts.h"

#include "SFXDefs.h"

SfxString GetEditText(HWND dialog) {
  int length = GetWindowTextLengthA(GetDlgItem(dialog, IdEdit));
  SfxString text;
  if (length > 0) {
    // Twice the length: the reported length may fall short for double-byte text.
    char *buffer = text.SetLength((uint32_t)length * 2);
    GetDlgItemTextA(dialog, IdEdit, buffer, length * 2 + 1);
    text.CutAtNul();
  }
  return text;
}
