// SFXProcsFolder.h -- folder macros ($T, $W, $S, registry) and the default target folder.
#ifndef SFXKIT_STUB_SFXPROCSFOLDER_H
#define SFXKIT_STUB_SFXPROCSFOLDER_H

#include <stdint.h>

#include "SFXString.h"

SfxString ResolveTargetFolder(const SfxString &text, uint32_t folderLength);
SfxString MakeTempFolder();
SfxString GetSystemFolder(bool systemDirectory);
SfxString ReadRegistryFolder(const SfxString &macro);
SfxString ExpandEnvironment(const SfxString &text);
SfxString ExpandFullPath(const SfxString &path);
SfxString UpperCaseAscii(const SfxString &text);
SfxString GetCurrentFolder();

#endif
