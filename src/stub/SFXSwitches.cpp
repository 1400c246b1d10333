// SFXSwitches.cpp -- the command line: /s, /d FOLDER, /p PASSWORD and /?.
#include "SFXSwitches.h"

#include <windows.h>
#include <shellapi.h>

#include "SFXMain.h"
#include "SFXProcsFile.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"

// The letter of a switch ('/x' or '-x', any case), or 0 for anything else.
static WCHAR SwitchLetter(const WCHAR *argument) {
  if ((argument[0] != L'/' && argument[0] != L'-') || !argument[1] || argument[2]) return 0;
  WCHAR c = argument[1];
  return (c >= L'A' && c <= L'Z') ? (WCHAR)(c - L'A' + L'a') : c;
}

// The box listing the switches, then the end of the process.
[[noreturn]] static void ShowSwitches(UINT exitCode) {
  ShowMessageBox(nullptr, STR_SWITCHES, SfxSettings.Title.Text(), MB_ICONINFORMATION);
  EndProcess(exitCode);
}

void ReadSwitches() {
  int count = 0;
  WCHAR **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments) return;
  for (int i = 1; i < count; i++) {
    WCHAR letter = SwitchLetter(arguments[i]);
    if (letter == L'?') ShowSwitches(0);
    if (letter == L's') Silent = true;
    else if ((letter != L'd' && letter != L'p') || i + 1 >= count) ShowSwitches(2);
    else if (letter == L'd') SwitchFolder = FromWide(arguments[++i]);
    else {
      // Keys come from the password's bytes in the ANSI code page, as the prompt takes them.
      Password = ToCodePage(CP_ACP, FromWide(arguments[++i]));
      Password.Truncate(MaxPasswordLength);
    }
  }
  LocalFree(arguments);
}
