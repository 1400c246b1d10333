// SFXProcsFolder.h -- folder macros ($T, $W, $S, registry), the default target folder and the private $TEMP folder.
#ifndef SFXKIT_STUB_SFXPROCSFOLDER_H
#define SFXKIT_STUB_SFXPROCSFOLDER_H

#include <stdint.h>

#include "SFXString.h"

SfxString ResolveTargetFolder(const SfxString &text, uint32_t folderLength);
SfxString MakeTempFolder();
// Whether the process runs elevated (an administrator's full token, or SYSTEM's).
bool RunsElevated();
// The security descriptor the private $TEMP folder is made with, a constant.
// For an elevated run a protected DACL: SYSTEM and the Administrators have full
// control, inherited by everything in the folder, and nothing comes from the
// parent, so that the user's unelevated processes, which may write to the
// user's temporary folder, can neither replace what setup runs from nor put a
// DLL beside it. Null otherwise (the parent's, as for any new folder).
const void *PrivateFolderSecurity(bool elevated);
SfxString GetSystemFolder(bool systemDirectory);
SfxString ReadRegistryFolder(const SfxString &macro);
SfxString ExpandEnvironment(const SfxString &text);
SfxString ExpandFullPath(const SfxString &path);
SfxString UpperCaseAscii(const SfxString &text);
SfxString GetCurrentFolder();

#endif
