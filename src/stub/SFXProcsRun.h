// SFXProcsRun.h -- the program started after extraction and the texts that name it.
#ifndef SFXKIT_STUB_SFXPROCSRUN_H
#define SFXKIT_STUB_SFXPROCSRUN_H

#include <windows.h>

#include "SFXString.h"

SfxString RunCommandPart(int part);   // 1: program, 2: parameters
INT_PTR RunAfterUnzip();              // ShellExecuteW's result, 0 when nothing is configured
// The template's first "%s" becomes the program's name, its second the parameters' last part.
SfxString RunText(const SfxString &templateText);

#endif
