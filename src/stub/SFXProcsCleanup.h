// SFXProcsCleanup.h -- what the stub creates on disk, noted as it goes, and its removal at the end.
#ifndef SFXKIT_STUB_SFXPROCSCLEANUP_H
#define SFXKIT_STUB_SFXPROCSCLEANUP_H

#include "SFXString.h"

// Notes a file or folder that the stub has just created (it did not exist before).
void NoteCreated(const SfxString &path);
// Removes what NoteCreated noted, the newest first: files (only when files is
// true) before their folders, inner folders before outer ones. A folder that
// holds anything stays: without files, the folders made for nothing go (the
// $TEMP folder of a run that was never started). A file that cannot be deleted
// (another program still has it open) is tried again for a few seconds. False
// when a noted file is left behind.
bool RemoveCreated(bool files);

#endif
