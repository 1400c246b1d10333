// SFXProcsExtract.cpp -- the extraction engine: one member to disk, the run over the list, and the clean-up at the end.
#include "SFXProcsExtract.h"

#include "SFXProcsFile.h"
#include "SFXStrings.h"
#include "SFXVars.h"

bool CloseFileHandle(HANDLE &handle) {
  bool closed = true;
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) closed = CloseHandle(handle) != FALSE;
  handle = INVALID_HANDLE_VALUE;
  return closed;
}

void FinalizeProcs() {
  ReleaseMemory(EntryList.Items);
  EntryList = EntryArray();
  if (!CloseFileHandle(ArchiveHandle)) ShowErrorBox(nullptr, SubstituteText(STR_CANNOT_CLOSE, ModulePath));
  if (!CloseFileHandle(OutputHandle)) ShowErrorBox(nullptr, SubstituteText(STR_CANNOT_CLOSE, OutputName));
}
