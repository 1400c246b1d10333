// SFXProcsFile.h -- access to the stub's own file, writing of output, message boxes and the fatal exit.
#ifndef SFXKIT_STUB_SFXPROCSFILE_H
#define SFXKIT_STUB_SFXPROCSFILE_H

#include <windows.h>

#include "SFXString.h"

enum { SeekFromStart = 0, SeekFromCurrent = 1, SeekFromEnd = 2 };

// Moves the shared file position of ArchiveHandle. Returns the new absolute
// position; a refused seek (before the start of the file) returns SeekFailed
// and leaves the position where it was.
enum : uint64_t { SeekFailed = ~(uint64_t)0 };
uint64_t SeekArchive(int64_t distance, int origin);
// The core's reads at a position (ReadAtRoutine): count bytes at `at`, or false.
bool ReadArchiveAt(void *context, uint64_t at, uint8_t *bytes, uint32_t count);
// Reads exactly count bytes or ends the process with "Cannot unzip: file is corrupt.".
void ReadArchiveExact(void *buffer, uint32_t count);

// The single exit for conditions with no way forward: shows text (unless empty)
// in a task-modal error box without owner, then ends the process with exit code 1
// through the orderly end (EndProcess).
[[noreturn]] void FatalError(const SfxString &text);

// The text with its first "%s" replaced by value; unchanged when there is none.
SfxString SubstituteText(const SfxString &text, const SfxString &value);
// SubstituteText with first, then SubstituteText of that with second.
SfxString SubstituteTwo(const SfxString &text, const SfxString &first, const SfxString &second);

// MessageBoxW with MB_TASKMODAL always added; returns the button pressed.
int ShowMessageBox(HWND owner, const SfxString &text, const char *caption, UINT style);
// A task-modal stop-icon box captioned "Error" with only OK.
void ShowErrorBox(HWND owner, const SfxString &text);

#endif
