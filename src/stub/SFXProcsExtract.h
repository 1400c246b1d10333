// SFXProcsExtract.h -- the extraction engine: one member to disk, the run over the list, and the clean-up at the end.
#ifndef SFXKIT_STUB_SFXPROCSEXTRACT_H
#define SFXKIT_STUB_SFXPROCSEXTRACT_H

#include <windows.h>

#include "SFXStructs.h"

// Closes the handle unless it is 0 or INVALID_HANDLE_VALUE; the variable holds
// INVALID_HANDLE_VALUE afterwards. Returns false only when CloseHandle failed.
bool CloseFileHandle(HANDLE &handle);
// The clean-up at process end: releases EntryList, closes ArchiveHandle and an
// output file still open, reporting "Cannot close %s" in an error box, and
// removes a temporary output file.
void FinalizeProcs();

// Writes one member to path. The owner (the main dialog) owns every box and
// prompt shown here. True when the file was created, completely written, its
// CRC-32 matched and it was closed. passwordFailed is set only when the member is
// encrypted and no correct password was obtained: the caller then ends the run.
// A damaged archive or a failed write ends the process (FatalError).
// A file that exists already is replaced only by a member whose CRC-32 matched:
// on any failure it stays as it was. A cancel confirmed while the member is
// written ends it (false), its partial file removed. A new file is noted for
// the clean-up (NoteCreated). A member of a solid block that fails leaves no
// file it created. An empty path decodes the member and writes it nowhere (one
// of a solid block that is not to be written, whose bytes the later members of
// its block need): true when it decoded sound.
bool ExtractEntry(HWND owner, const SfxString &path, const MemberInfo &entry, bool &passwordFailed);
// Stamps the file's last-write time; dosDateTime holds the DOS date in its high
// and the DOS time in its low 16 bits, read as local time on that date. Failures
// are ignored.
void SetFileDateTime(HANDLE handle, uint32_t dosDateTime);

// Dispatches every waiting window message; never waits.
void PumpMessages();
// Counts work more of the run (ProgressDone: bytes written, one for each row).
// Every 50 ms or so it moves the progress bar and lets the waiting messages
// through, so that the window answers however long one member takes. False
// once the user has confirmed cancelling: the output then refuses (WriteOutput).
bool AdvanceProgress(uint32_t work);

// Extracts every selected row of the main dialog's file list into TargetFolder,
// applying OverwriteMode and moving the progress bar. True when no row is left
// selected.
bool RunExtraction(HWND dialog);

#endif
