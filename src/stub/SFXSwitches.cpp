// SFXSwitches.cpp -- the command line: /s, /d FOLDER, /p PASSWORD, /? and -- ARGUMENTS.
#include "SFXSwitches.h"

#include <windows.h>
#include <shellapi.h>

#include "SFXDefs.h"
#include "SFXMain.h"
#include "SFXProcsFile.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"

// What the whole command line asks for. A line's verdict is the greatest of its
// arguments': a bad switch outweighs /?, and a line that was split wrongly
// (SwitchesSplitAgain) outweighs everything read from it.
enum SwitchVerdict { SwitchesRun, SwitchesList, SwitchesBad, SwitchesSplitAgain };

// The letter of a switch ('/x' or '-x', any case), or 0 for anything else.
static WCHAR SwitchLetter(const WCHAR *argument) {
  if ((argument[0] != L'/' && argument[0] != L'-') || !argument[1] || argument[2]) return 0;
  WCHAR c = argument[1];
  return (c >= L'A' && c <= L'Z') ? (WCHAR)(c - L'A' + L'a') : c;
}

// The command line in arguments. Mended, a quoted part's quote escaped by an odd
// run of backslashes and followed by a blank or the end closes that part instead:
// `/d "C:\Target\"` means the folder C:\Target\, and the switches behind it stay switches.
static WCHAR **SplitCommandLine(bool mended, int *count) {
  const WCHAR *line = GetCommandLineW();
  if (!mended) return CommandLineToArgvW(line, count);
  WideBuffer mendedLine((uint32_t)lstrlenW(line) * 2);  // at most one backslash added per character
  WCHAR *out = mendedLine;
  uint32_t backslashes = 0;
  bool quoted = false;  // inside a quoted part: only there can an escaped quote have been meant to close it
  for (const WCHAR *c = line; *c; c++) {
    if (*c == L'"' && !(backslashes & 1)) {
      quoted = !quoted;
    } else if (*c == L'"' && quoted && (c[1] == L' ' || c[1] == L'\t' || !c[1])) {
      *out++ = L'\\';  // the run becomes even: its backslashes stay, the quote closes
      quoted = false;
    }
    backslashes = *c == L'\\' ? backslashes + 1 : 0;
    *out++ = *c;
  }
  return CommandLineToArgvW(mendedLine, count);
}

// Whether the argument is "--", behind which the line is the program's.
static bool EndsSwitches(const WCHAR *argument) { return argument[0] == L'-' && argument[1] == L'-' && !argument[2]; }

// The text behind the first "--" that stands alone, outside quotes, on the
// line, from the blank before it on: handed on as it was written, quotes and
// all. Empty when there is none.
static const WCHAR *ArgumentsToPass(const WCHAR *line) {
  bool quoted = false;
  for (; *line; line++) {
    if (*line == L'"') quoted = !quoted;
    if (!quoted && (line[0] == L' ' || line[0] == L'\t') && line[1] == L'-' && line[2] == L'-' && line[3] <= L' ')
      return line + 3;
  }
  return line;
}

// Reads every argument into Silent, SwitchFolder and Password before anything is
// acted on. A value (of /d or /p) that is missing, empty or itself a switch makes
// the switch bad: `/d /s` names no folder, and its /s still counts. A folder with
// a quote in it came from an escaped closing quote: the line is split again, mended.
static SwitchVerdict ReadArguments(bool mended) {
  int count = 0;
  WCHAR **arguments = SplitCommandLine(mended, &count);
  if (!arguments) return SwitchesRun;
  Silent = false;
  SwitchFolder.Release();
  Password.Release();
  SwitchVerdict verdict = SwitchesRun;
  for (int i = 1; i < count; i++) {
    if (EndsSwitches(arguments[i])) break;  // the rest is the program's (ArgumentsToPass)
    WCHAR letter = SwitchLetter(arguments[i]);
    SwitchVerdict found = SwitchesRun;
    if (letter == L's') {
      Silent = true;
    } else if (letter == L'?') {
      found = SwitchesList;
    } else if ((letter != L'd' && letter != L'p') || i + 1 >= count || !arguments[i + 1][0] ||
               SwitchLetter(arguments[i + 1])) {
      found = SwitchesBad;
    } else if (letter == L'd') {
      SwitchFolder = FromWide(arguments[++i]);
      if (SwitchFolder.FindChar('"') >= 0) found = mended ? SwitchesBad : SwitchesSplitAgain;
    } else {
      // Kept as typed, at most as long as the prompt takes it; the forms tried
      // are made from it (CheckPasswordForms).
      const WCHAR *typed = arguments[++i];
      int length = lstrlenW(typed);
      Password = FromWide(typed, length < (int)MaxPasswordLength ? length : (int)MaxPasswordLength);
    }
    if (found > verdict) verdict = found;
  }
  LocalFree(arguments);
  return verdict;
}

void ReadSwitches() {
  PassedArguments = ArgumentsToPass(GetCommandLineW());
  SwitchVerdict verdict = ReadArguments(false);
  if (verdict == SwitchesSplitAgain) verdict = ReadArguments(true);
  if (verdict == SwitchesRun) return;
  // The list of switches, under the publisher's title (the block's texts are read by
  // now); a silent run shows no box and ends with its exit code alone.
  ShowMessageBox(nullptr, STR_SWITCHES, SfxSettings.Title.Text(), MB_ICONINFORMATION);
  EndProcess(verdict == SwitchesList ? ExitDone : ExitIncomplete);
}
