// SFXProcsFile.cpp -- the three reads of the stub's own file, the write of output,
// the message-box routines and FatalError, the single exit for fatal conditions.
#include "SFXProcsFile.h"

#include "SFXDefs.h"
#include "SFXMain.h"
#include "SFXProcsExtract.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"

uint64_t SeekArchive(int64_t distance, int origin) {
  // Positions are 64-bit: members behind 4 GiB are reached; relative moves keep their sign.
  LARGE_INTEGER move, position;
  move.QuadPart = distance;
  if (!SetFilePointerEx(ArchiveHandle, move, &position, (DWORD)origin)) return SeekFailed;
  return (uint64_t)position.QuadPart;
}

// Part of the core's interface: short reads are fine, a failure reads as 0 bytes.
uint32_t ReadArchive(void *buffer, uint32_t count) {
  DWORD read = 0;
  if (!ReadFile(ArchiveHandle, buffer, count, &read, nullptr)) return 0;
  return read;
}

bool ReadArchiveAt(void *, uint64_t at, uint8_t *bytes, uint32_t count) {
  return SeekArchive((int64_t)at, SeekFromStart) == at && ReadArchive(bytes, count) == count;
}

void ReadArchiveExact(void *buffer, uint32_t count) {
  if (ReadArchive(buffer, count) != count) FatalError(STR_CORRUPT);
}

// The core's output path: the member's output file. A short write refuses, and
// so does a cancel the user confirmed while the member is being written.
bool WriteOutput(const uint8_t *data, uint32_t count) {
  if (!AdvanceProgress(count)) return false;
  if (DiscardOutput) return true;
  DWORD written = 0;  // only the count decides: a failed call leaves it at 0
  WriteFile(OutputHandle, data, count, &written, nullptr);
  return written == count;
}

// Nothing may be allocated on the way out, the message included: a fixed text
// (none in a silent run, which must not wait on a box), then the orderly end.
// Should that run out of memory again, the process ends at once.
void OutOfMemory() {
  static bool leaving = false;
  if (!leaving) {
    leaving = true;
    if (!Silent) MessageBoxA(nullptr, STR_OUT_OF_MEMORY, STR_ERROR_CAPTION, MB_ICONHAND | MB_TASKMODAL);
    EndProcess(ExitFatal);
  }
  ExitProcess(ExitFatal);
}

void FatalError(const SfxString &text) {
  if (!text.Empty()) ShowErrorBox(nullptr, text);
  EndProcess(ExitFatal);
}

SfxString SubstituteText(const SfxString &text, const SfxString &value) {
  int at = text.Find("%s");
  if (at < 0) return text;
  return text.Mid(0, (uint32_t)at) + value + text.Mid((uint32_t)at + 2);
}

SfxString SubstituteTwo(const SfxString &text, const SfxString &first, const SfxString &second) {
  return SubstituteText(SubstituteText(text, first), second);
}

// A silent run shows nothing: its result is the exit code alone.
int ShowMessageBox(HWND owner, const SfxString &text, const char *caption, UINT style) {
  if (Silent) return IDOK;
  return MessageBoxW(owner, WideText(text), WideText(caption), style | MB_TASKMODAL);
}

void ShowErrorBox(HWND owner, const SfxString &text) {
  ShowMessageBox(owner, text, STR_ERROR_CAPTION, MB_ICONHAND);
}
