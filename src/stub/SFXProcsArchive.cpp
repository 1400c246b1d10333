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

enum : uint16_t { FlagUtf8Name = 0x0800 };  // general purpose flag bit 11: the name is UTF-8
enum : uint8_t { HostDos = 0, HostOs2 = 6, HostNtfs = 11 };

// The end record lies in the last 22 + 65536 bytes behind ArchiveStart (the
// longest comment it can have). The first signature in that window wins, so a
// "PK",5,6 in the comment is never mistaken for it, while one inside the last
// member's data is.
uint32_t FindEndRecord() {
  uint32_t size = GetFileSize(ArchiveHandle, nullptr);
  uint32_t window = size > ArchiveStart ? size - ArchiveStart : 0;
  if (window > EndRecordWindow) window = EndRecordWindow;
  if (window <= EndRecordSize) FatalError(STR_CORRUPT);

  uint8_t *buffer = (uint8_t *)AllocateMemory(window);
  uint32_t saved = SeekArchive(0, SeekFromCurrent);
  uint32_t windowStart = SeekArchive(-(int32_t)window, SeekFromEnd);
  uint32_t read = ReadArchive(buffer, window);
  SeekArchive((int32_t)saved, SeekFromStart);
  bool found = false;
  uint32_t position = 0;
  if (read == window) {
    for (; position <= window - EndRecordSize; position++) {
      if (memcmp(buffer + position, EndRecordSignature, 4) == 0) {
        found = true;
        break;
      }
    }
  }
  ReleaseMemory(buffer);
  if (!found) FatalError(STR_CORRUPT);
  return windowStart + position;
}

// Names from MS-DOS and OS/2 hosts, and from the NTFS host as version 5.0 tools
// wrote it, are in the OEM code page. A name flagged as UTF-8 becomes ANSI when
// every one of its characters has an exact ANSI equivalent; otherwise, or when
// it is not valid UTF-8, the rule for its host applies.
SfxString ConvertEntryName(const SfxString &rawName, const ArchiveEntry &entry) {
  if (Field16(entry, EntryFlags) & FlagUtf8Name) {
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
  uint16_t madeBy = Field16(entry, EntryVersionMadeBy);
  uint8_t host = (uint8_t)(madeBy >> 8), version = (uint8_t)madeBy;
  if (host == HostDos || host == HostOs2 || (host == HostNtfs && version == 50)) {
    SfxString converted;
    OemToCharBuffA(rawName.Text(), converted.SetLength(rawName.Length()), rawName.Length());
    return converted;
  }
  return rawName;
}

// Reads one central directory record with its name; false for a folder member.
// The name is cut at a zero byte, as the platform would; a name that is empty
// then, too long for the name buffer, or a record without its signature, means
// a damaged archive.
static bool ReadDirectoryRecord(ArchiveEntry &entry, SfxString &name) {
  ReadArchiveExact(entry.Bytes, EntrySize);
  uint32_t nameLength = Field16(entry, EntryNameLength);
  if (memcmp(entry.Bytes + EntrySignature, CentralHeaderSignature, 4) != 0 || nameLength == 0 ||
      nameLength > MaxNameLength)
    FatalError(STR_CORRUPT);
  char raw[MaxNameLength + 1];
  ReadArchiveExact(raw, nameLength);
  raw[nameLength] = 0;
  for (uint32_t i = 0; i < nameLength; i++)
    if (raw[i] == '/') raw[i] = '\\';
  name = ConvertEntryName(SfxString(raw), entry);
  if (name.Empty()) FatalError(STR_CORRUPT);
  SeekArchive(Field16(entry, EntryExtraLength) + Field16(entry, EntryCommentLength), SeekFromCurrent);
  return name.Last() != '\\';
}

// The central directory is taken to end where the end record begins; its
// recorded offset only serves to find ArchiveBase, the position the archive's
// offsets count from (ArchiveStart for an archive appended as it was, 0 for one
// whose offsets were adjusted to the whole file).
void ReadArchiveDirectory(HWND dialog) {
  uint32_t endRecord = FindEndRecord();
  uint8_t end[EndRecordSize];
  SeekArchive((int32_t)endRecord, SeekFromStart);
  ReadArchiveExact(end, EndRecordSize);
  uint32_t directorySize = GetLE32(end + EndDirectorySize);
  ArchiveBase = endRecord - (GetLE32(end + EndDirectoryOffset) + directorySize);
  uint32_t entries = GetLE16(end + EndTotalEntries);
  // A directory larger than what precedes the end record cannot be sought to:
  // reading on from the wrong place would take arbitrary bytes for records.
  if (entries == 0 || directorySize > endRecord) FatalError(STR_CORRUPT);
  SeekArchive(-(int32_t)(EndRecordSize + directorySize), SeekFromCurrent);

  ArchiveEntry entry;
  SfxString name;
  for (uint32_t i = 0; i < entries; i++)
    if (ReadDirectoryRecord(entry, name)) AddFileItem(dialog, name, entry);
}
