// SFXProcsArchive.cpp -- the archive directory reader: end record, ArchiveBase, central directory, names.
//
// The archive is never read from its start: the end record near the end of the
// file says where the central directory is, and every file member found there
// becomes one row of the main dialog's file list.
#include "SFXProcsArchive.h"

#include "SFXFileList.h"
#include "SFXProcsFile.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"

// The end record lies in the last 22 + 65536 bytes behind ArchiveStart (the
// longest comment it can have); the first signature in that window wins.
uint64_t FindEndRecord() {
  LARGE_INTEGER size;
  uint32_t window = GetFileSizeEx(ArchiveHandle, &size) ? EndRecordWindowSize((uint64_t)size.QuadPart, ArchiveStart) : 0;
  if (window == 0) FatalError(STR_CORRUPT);
  uint8_t *buffer = (uint8_t *)AllocateMemory(window);
  uint64_t windowStart = SeekArchive(-(int64_t)window, SeekFromEnd);
  uint32_t read = ReadArchive(buffer, window);
  int32_t position = read == window ? FindEndSignature(buffer, window) : -1;
  ReleaseMemory(buffer);
  if (position < 0) FatalError(STR_CORRUPT);
  return windowStart + (uint32_t)position;
}

// The name becomes UTF-8 by the core's rule for what its bytes are (see
// zipformat.h): flagged UTF-8, a Unicode Path field, the OEM code page, UTF-8
// from a Unix host, or the ANSI code page. Separators become backslashes only
// then: in a double-byte code page a second byte may be 0x5C.
static SfxString ConvertEntryName(const DirectoryRecord &record) {
  const char *raw = record.Name;
  uint32_t length = (uint32_t)lstrlenA(raw);  // up to a zero byte, as the platform would read it
  const char *utf8;
  uint32_t utf8Length;
  SfxString name;
  if (NameIsFlaggedUtf8(record.Entry) && IsUtf8(raw, length)) name.Assign(raw, length);
  else if (ExtraFieldUnicodePath(record.Extra, record.ExtraLength, record.Name, record.NameLength, &utf8, &utf8Length) &&
           IsUtf8(utf8, utf8Length))
    name.Assign(utf8, utf8Length);
  else if (NameIsOem(record.Entry)) name = FromCodePage(CP_OEMCP, raw, length);
  else if (NameIsFromUnix(record.Entry) && IsUtf8(raw, length)) name.Assign(raw, length);
  else name = FromCodePage(CP_ACP, raw, length);
  name.CutAtNul();
  SeparatorsToBackslashes(name.SetLength(name.Length()), name.Length());
  return name;
}

// The central directory is read from where the end record says it starts; its
// recorded offset only serves to find ArchiveBase, the position the archive's
// offsets count from (ArchiveStart for an archive appended as it was, 0 for one
// whose offsets were adjusted to the whole file). Every file member becomes a
// row; a name cut short by a zero byte to nothing means a damaged archive, and
// so does a directory that disagrees with its end record or members that share
// bytes (see ReadDirectoryMember).
void ReadArchiveDirectory() {
  uint64_t endAt = FindEndRecord();
  uint8_t bytes[EndRecordSize];
  SeekArchive((int64_t)endAt, SeekFromStart);
  ReadArchiveExact(bytes, EndRecordSize);
  EndRecord end;
  DecodeEndRecord(bytes, &end);
  // A ZIP64 end record, found through its locator, takes the 32-bit one's place;
  // the directory then ends where that record begins.
  uint64_t directoryEnd, directoryAt;
  if (!ReadZip64EndRecord(ReadArchiveAt, nullptr, endAt, ArchiveStart, &end, &directoryEnd) ||
      !LocateDirectory(directoryEnd, end, &ArchiveBase, &directoryAt))
    FatalError(STR_CORRUPT);
  SeekArchive((int64_t)directoryAt, SeekFromStart);

  DirectoryReader reader;
  OpenDirectoryReader(&reader, end, directoryEnd != endAt);
  DirectoryRecord record;
  MemberInfo member;
  DirectoryStep step;
  while ((step = ReadDirectoryMember(&reader, &record, &member)) == DirectoryStep::Member) {
    SfxString name = ConvertEntryName(record);
    if (name.Empty()) FatalError(STR_CORRUPT);
    if (!IsFolderName(name.Text(), name.Length())) AddFileItem(name, member);
  }
  if (step != DirectoryStep::End) FatalError(STR_CORRUPT);
  for (uint32_t i = 0; i < EntryList.Count; i++)
    EntryList.Items[i].DataLimit = MemberSpanLimit(&reader, EntryList.Items[i].LocalHeaderOffset);
  CloseDirectoryReader(&reader);
}
