// SFXProcsArchive.cpp -- the archive directory reader: end record, ArchiveBase, central directory, names.
//
// The archive is never read from its start: the end record near the end of the
// file says where the central directory is, and every file member found there
// becomes one row of the main dialog's file list.
#include "SFXProcsArchive.h"

#include <string.h>

#include "SFXDefs.h"
#include "SFXFileList.h"
#include "SFXProcsFile.h"
#include "SFXStrings.h"
#include "SFXVars.h"

// The end record lies in the last 22 + 65536 bytes behind ArchiveStart (the
// longest comment it can have); the first signature in that window wins.
uint32_t FindEndRecord() {
  uint32_t window = EndRecordWindowSize(GetFileSize(ArchiveHandle, nullptr), ArchiveStart);
  if (window == 0) FatalError(STR_CORRUPT);
  uint8_t *buffer = (uint8_t *)AllocateMemory(window);
  uint32_t saved = SeekArchive(0, SeekFromCurrent);
  uint32_t windowStart = SeekArchive(-(int32_t)window, SeekFromEnd);
  uint32_t read = ReadArchive(buffer, window);
  SeekArchive((int32_t)saved, SeekFromStart);
  int32_t position = read == window ? FindEndSignature(buffer, window) : -1;
  ReleaseMemory(buffer);
  if (position < 0) FatalError(STR_CORRUPT);
  return windowStart + (uint32_t)position;
}

// A name flagged as UTF-8 becomes ANSI when every one of its characters has an
// exact ANSI equivalent; otherwise, or when it is not valid UTF-8, the rule for
// its host applies: OEM names are converted, all others kept byte for byte.
SfxString ConvertEntryName(const SfxString &rawName, const ArchiveEntry &entry) {
  if (NameIsFlaggedUtf8(entry)) {
    WCHAR wide[MaxNameLength];
    int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, rawName.Text(), (int)rawName.Length(),
                                         wide, MaxNameLength);
    if (wideLength > 0) {
      if (GetACP() == CP_UTF8) return rawName;  // the ANSI code page is UTF-8 itself
      SfxString ansi;
      BOOL usedDefault = FALSE;
      int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, wideLength,
                                       ansi.SetLength(MaxNameLength), MaxNameLength, nullptr, &usedDefault);
      if (length > 0 && !usedDefault) {
        ansi.Truncate((uint32_t)length);
        return ansi;
      }
    }
  }
  if (NameIsOem(entry)) {
    SfxString converted;
    OemToCharBuffA(rawName.Text(), converted.SetLength(rawName.Length()), rawName.Length());
    return converted;
  }
  return rawName;
}

// The central directory is read from where the end record says it starts; its
// recorded offset only serves to find ArchiveBase, the position the archive's
// offsets count from (ArchiveStart for an archive appended as it was, 0 for one
// whose offsets were adjusted to the whole file). Every file member becomes a
// row; a name cut short by a zero byte to nothing means a damaged archive.
void ReadArchiveDirectory(HWND dialog) {
  uint32_t endAt = FindEndRecord();
  uint8_t bytes[EndRecordSize];
  SeekArchive((int32_t)endAt, SeekFromStart);
  ReadArchiveExact(bytes, EndRecordSize);
  EndRecord end;
  DecodeEndRecord(bytes, &end);
  uint64_t directoryAt;
  if (!LocateDirectory(endAt, end, &ArchiveBase, &directoryAt)) FatalError(STR_CORRUPT);
  SeekArchive((int32_t)directoryAt, SeekFromStart);

  DirectoryReader reader;
  OpenDirectoryReader(&reader);
  DirectoryRecord record;
  MemberInfo member;
  for (uint32_t i = 0; i < end.TotalEntries; i++) {
    if (!ReadDirectoryRecord(&reader, &record)) FatalError(STR_CORRUPT);
    SeparatorsToBackslashes(record.Name, record.NameLength);
    SfxString name = ConvertEntryName(SfxString(record.Name), record.Entry);
    if (name.Empty()) FatalError(STR_CORRUPT);
    DescribeMember(record, &member);
    if (!IsFolderName(name.Text(), name.Length())) AddFileItem(dialog, name, member);
  }
  CloseDirectoryReader(&reader);
}
