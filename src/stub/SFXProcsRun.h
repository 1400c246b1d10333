// SFXProcsRun.h -- the program started after extraction, the wait for it, and the texts that name it.
#ifndef SFXKIT_STUB_SFXPROCSRUN_H
#define SFXKIT_STUB_SFXPROCSRUN_H

#include <windows.h>

#include "SFXString.h"

SfxString RunCommandPart(int part);   // 1: program, 2: parameters
// Starts the configured program (RunCommand, not empty) in TargetFolder,
// PassedArguments appended to its parameters. With OptWaitForRun it waits for
// the program (with OptWaitForAll for every process it starts as well) while
// the window's messages go through, and RunOutcome becomes its exit code. When
// the shell hands the file to a program already running (no process), the
// clean-up removes nothing, and RunOutcome becomes ExitLeftBehind where it was
// due. False when it could not be started.
bool RunAfterUnzip();
// The template's first "%s" becomes the program's name, its second the parameters' last part.
SfxString RunText(const SfxString &templateText);

#endif
