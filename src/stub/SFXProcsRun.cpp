// SFXProcsRun.cpp -- the program started after extraction and the texts that name it.
#include "SFXProcsRun.h"

#include <shellapi.h>

#include "SFXProcsFile.h"
#include "SFXProcsPath.h"
#include "SFXVars.h"
#include "SFXWide.h"

// The command splits at its first blank into program and parameters; further
// blanks belong to the parameters. A command that starts with a double quote
// names its program up to the closing quote instead, so a program path with
// blanks can be started; one blank after that quote separates the parameters.
SfxString RunCommandPart(int part) {
  const SfxString &command = SfxSettings.RunCommand;
  bool quoted = command.Length() && command[0] == '"';
  uint32_t programStart = quoted ? 1 : 0;
  int end = command.FindChar(quoted ? '"' : ' ', programStart);
  uint32_t programEnd = end < 0 ? command.Length() : (uint32_t)end;
  uint32_t parameterStart = programEnd + 1;
  if (quoted && parameterStart < command.Length() && command[parameterStart] == ' ') parameterStart++;
  if (part == 1) return command.Mid(programStart, programEnd - programStart);
  return command.Mid(parameterStart);
}

INT_PTR RunAfterUnzip() {
  if (SfxSettings.RunLength == 0) return 0;
  SfxString program = RunCommandPart(1);
  SfxString parameters = RunCommandPart(2);
  // The program inherits the error mode in force when it starts: it gets the
  // system's default, not the one the stub set for itself.
  UINT errorMode = SetErrorMode(0);
  INT_PTR result = (INT_PTR)ShellExecuteW(nullptr, L"open", WideText(program), WideText(parameters),
                                          WideText(SfxSettings.TargetFolder), SW_SHOW);
  SetErrorMode(errorMode);
  return result;
}

SfxString RunText(const SfxString &templateText) {
  return SubstituteTwo(templateText, ExtractName(RunCommandPart(1)), ExtractName(RunCommandPart(2)));
}
