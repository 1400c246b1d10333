// SFXProcsCleanup.h -- what the stub creates on disk, noted as it goes, and its removal at the end.
#ifndef SFXKIT_STUB_SFXPROCSCLEANUP_H
#define SFXKIT_STUB_SFXPROCSCLEANUP_H

#include <windows.h>

#include "SFXString.h"

// Opens path itself, never what a link or junction there leads to (files and
// folders alike), for access, others sharing it as share.
HANDLE OpenItself(const WCHAR *path, DWORD access, DWORD share);
// Notes a file or folder that the stub has just created (it did not exist
// before), with the identity (volume serial number and file index) of handle,
// open on it; without one (a folder just made) path itself is opened for it.
void NoteCreated(const SfxString &path, HANDLE handle = INVALID_HANDLE_VALUE);
// Whether the run removes the files it unpacks once the program it ran has
// ended: stated at build time (OptCleanUp), or implied by a wait for the
// program (OptWaitForRun) when the run unpacks into the private $TEMP folder the
// stub made for it (PrivateFolder), not where /d or the user moved it.
bool CleanUpApplies();
// Removes what NoteCreated noted, the newest first, each through a handle on
// the object itself whose identity is still the one noted: files (only the
// ones noted: CleanUpApplies) before their folders, inner folders before outer
// ones. A folder that holds anything stays: without files, the folders made for
// nothing go (the $TEMP folder of a run that was never started). Whatever is
// not what was noted (replaced, or turned into a link or junction) is left as
// it is. With a clean-up (CleanUpApplies), what cannot be deleted (another
// program still has it open) is tried again for a few seconds, and the result
// is false when anything noted is left behind; without one, one pass, true.
bool RemoveCreated();

#endif
