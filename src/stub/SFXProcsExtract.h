// SFXProcsExtract.h -- the extraction engine: one member to disk, the run over the list, and the clean-up at the end.
#ifndef SFXKIT_STUB_SFXPROCSEXTRACT_H
#define SFXKIT_STUB_SFXPROCSEXTRACT_H

#include <windows.h>

// Closes the handle unless it is 0 or INVALID_HANDLE_VALUE; the variable holds
// INVALID_HANDLE_VALUE afterwards. Returns false only when CloseHandle failed.
bool CloseFileHandle(HANDLE &handle);
// The clean-up at process end: releases EntryList, closes ArchiveHandle and an
// output file still open, reporting "Cannot close %s" in an error box.
void FinalizeProcs();

#endif
