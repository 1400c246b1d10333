// SFXProcsRun.cpp -- the program started after extraction and the texts that name it.
#include "SFXProcsRun.h"

#include "SFXProcsFile.h"
#include "SFXProcsPath.h"
#include "SFXStrings.h"
#include "SFXVars.h"

// No quoting and no tabs: the command splits at its first blank.
SfxString RunCommandPart(int part) {
  const SfxString &command = SfxSettings.RunCommand;
  int blank = command.FindChar(' ');
  if (blank < 0) return part == 1 ? command : SfxString();
  return part == 1 ? command.Mid(0, (uint32_t)blank) : command.Mid((uint32_t)blank + 1);
}

SfxString RunText(const SfxString &templateText) {
  return SubstituteTwo(templateText, ExtractName(RunCommandPart(1)), ExtractName(RunCommandPart(2)));
}

SfxString RunCheckBoxText() { return RunText(STR_RUN_CHECKBOX); }
