// zipformat.cpp -- reading the self-extracting program's format: image end,
// configuration block, end record, central directory, local header, name rules.
#include "zipformat.h"

#include <string.h>

#include "crc32.h"

uint8_t LocalHeaderSignature[4];
uint8_t CentralHeaderSignature[4];
uint8_t EndRecordSignature[4];
uint8_t Zip64EndSignature[4];
uint8_t Zip64LocatorSignature[4];

static const uint8_t ConfigHeaderSignature[4] = {'Q', 'F', 0, 1};
static const uint8_t ConfigTrailerSignature[4] = {'Q', 'F', 10, 1};

static void CompleteSignature(uint8_t *signature, uint8_t o, uint8_t third, uint8_t fourth) {
  signature[0] = (uint8_t)(o + 1);
  signature[1] = (uint8_t)(o - ('O' - 'K'));
  signature[2] = third;
  signature[3] = fourth;
}

void CompleteSignatures() {
  // The letters are computed at run time, so the image holds none of the
  // signatures; the arrays start zeroed, which also keeps them out of .data.
  uint8_t o = 'O';
  __asm__("" : "+r"(o));  // keeps the compiler from folding 'O' + 1 into a stored 'P'
  CompleteSignature(LocalHeaderSignature, o, 3, 4);
  CompleteSignature(CentralHeaderSignature, o, 1, 2);
  CompleteSignature(EndRecordSignature, o, 5, 6);
  CompleteSignature(Zip64EndSignature, o, 6, 6);
  CompleteSignature(Zip64LocatorSignature, o, 6, 7);
}

static bool HasSignature(const uint8_t *bytes, const uint8_t *signature) { return memcmp(bytes, signature, 4) == 0; }

bool ReadImageLayout(const uint8_t *f, uint64_t size, ImageLayout *layout) {
  memset(layout, 0, sizeof *layout);
  if (size < PeDosOffset + 4 || f[0] != 'M' || f[1] != 'Z') return false;
  uint64_t pe = GetLE32(f + PeDosOffset);
  if (pe + 4 + PeFileHeaderSize > size || f[pe] != 'P' || f[pe + 1] != 'E' || f[pe + 2] || f[pe + 3]) return false;
  const uint8_t *header = f + pe + 4;
  uint16_t sections = GetLE16(header + PeFileSectionCount);
  uint16_t optional = GetLE16(header + PeFileOptionalSize);
  uint64_t table = pe + 4 + PeFileHeaderSize + optional;
  if (table + (uint64_t)sections * PeSectionEntrySize > size) return false;
  layout->FileHeader = (uint32_t)(pe + 4);
  layout->Machine = GetLE16(header);
  if (optional >= PeOptionalSubsystem + 2) layout->Subsystem = GetLE16(header + PeFileHeaderSize + PeOptionalSubsystem);
  for (uint16_t i = 0; i < sections; i++) {
    const uint8_t *s = f + table + (uint64_t)i * PeSectionEntrySize;
    uint64_t end = (uint64_t)GetLE32(s + PeSectionRawPointer) + GetLE32(s + PeSectionRawSize);
    if (end > layout->End) layout->End = end;
  }
  return true;
}

bool DecodeConfigHeader(const uint8_t *p, ConfigHeader *h) {
  if (!HasSignature(p + CfgSignature, ConfigHeaderSignature)) return false;
  h->TrailerOffset = GetLE16(p + CfgTrailerOffset);
  h->Options = GetLE16(p + CfgOptions);
  h->OverwriteMode = p[CfgOverwriteMode];
  h->TitleLength = p[CfgTitleLength];
  h->FolderLength = p[CfgFolderLength];
  h->RunLength = p[CfgRunLength];
  h->MessageLength = p[CfgMessageLength];
  h->MessageStyle = GetLE32(p + CfgMessageStyle);
  return true;
}

void EncodeConfigHeader(const ConfigHeader &h, uint8_t *p) {
  memcpy(p + CfgSignature, ConfigHeaderSignature, 4);
  PutLE16(p + CfgTrailerOffset, h.TrailerOffset);
  PutLE16(p + CfgOptions, h.Options);
  p[CfgOverwriteMode] = h.OverwriteMode;
  p[CfgTitleLength] = h.TitleLength;
  p[CfgFolderLength] = h.FolderLength;
  p[CfgRunLength] = h.RunLength;
  p[CfgReserved] = 0;
  p[CfgMessageLength] = h.MessageLength;
  PutLE32(p + CfgMessageStyle, h.MessageStyle);
}

bool IsConfigTrailer(const uint8_t *bytes) { return HasSignature(bytes, ConfigTrailerSignature); }

void EncodeConfigTrailer(uint32_t trailerOffset, uint8_t *bytes) {
  memcpy(bytes, ConfigTrailerSignature, 4);
  PutLE32(bytes + 4, trailerOffset);
}

bool StartAnswerDeclines(int answer) {
  enum { AnswerCancel = 2, AnswerAbort = 3, AnswerNo = 7, AnswerClose = 8 };
  return answer == AnswerCancel || answer == AnswerAbort || answer == AnswerNo || answer == AnswerClose;
}

void DecodeEndRecord(const uint8_t *p, EndRecord *r) {
  r->ThisDisk = GetLE16(p + EndThisDisk);
  r->DirectoryDisk = GetLE16(p + EndDirectoryDisk);
  r->DiskEntries = GetLE16(p + EndDiskEntries);
  r->TotalEntries = GetLE16(p + EndTotalEntries);
  r->DirectorySize = GetLE32(p + EndDirectorySize);
  r->DirectoryOffset = GetLE32(p + EndDirectoryOffset);
  r->CommentLength = GetLE16(p + EndCommentLength);
}

uint32_t EndRecordWindowSize(uint64_t fileSize, uint64_t archiveStart) {
  uint64_t window = fileSize > archiveStart ? fileSize - archiveStart : 0;
  if (window > EndRecordWindow) window = EndRecordWindow;
  return window > EndRecordSize ? (uint32_t)window : 0;
}

int32_t FindEndSignature(const uint8_t *window, uint32_t length) {
  if (length < EndRecordSize) return -1;
  for (uint32_t position = 0; position <= length - EndRecordSize; position++)
    if (HasSignature(window + position, EndRecordSignature))
      return (int32_t)position;
  return -1;
}

bool LocateDirectory(uint64_t endAt, const EndRecord &r, uint64_t *archiveBase, uint64_t *directoryStart) {
  *archiveBase = endAt - (r.DirectoryOffset + r.DirectorySize);
  // A directory larger than what precedes the end record cannot be reached:
  // reading from the wrong place would take arbitrary bytes for records.
  // An archive without members has an empty directory; its count is no guide,
  // since a 16-bit count of 65,536 members reads 0.
  if (r.DirectorySize == 0 || r.DirectorySize > endAt) return false;
  *directoryStart = endAt - r.DirectorySize;
  return true;
}

bool DecodeZip64Locator(const uint8_t *p, uint64_t *recordOffset) {
  if (!HasSignature(p, Zip64LocatorSignature)) return false;
  *recordOffset = GetLE64(p + Zip64LocatorEndOffset);
  return true;
}

bool DecodeZip64EndRecord(const uint8_t *p, EndRecord *r) {
  if (!HasSignature(p, Zip64EndSignature) || GetLE64(p + Zip64EndLength) < Zip64EndSize - Zip64EndLeadSize)
    return false;
  r->ThisDisk = GetLE32(p + Zip64EndThisDisk);
  r->DirectoryDisk = GetLE32(p + Zip64EndDirectoryDisk);
  r->DiskEntries = GetLE64(p + Zip64EndDiskEntries);
  r->TotalEntries = GetLE64(p + Zip64EndTotalEntries);
  r->DirectorySize = GetLE64(p + Zip64EndDirectorySize);
  r->DirectoryOffset = GetLE64(p + Zip64EndDirectoryOffset);
  r->CommentLength = 0;
  return true;
}

// Whether a field of the 32-bit end record holds the marker of a value kept in
// the ZIP64 end record.
static bool EndRecordIsSaturated(const EndRecord &r) {
  return r.ThisDisk == 0xFFFF || r.DirectoryDisk == 0xFFFF || r.DiskEntries == 0xFFFF || r.TotalEntries == 0xFFFF ||
         r.DirectorySize == Zip64Marker || r.DirectoryOffset == Zip64Marker;
}

bool ReadZip64EndRecord(ReadAtRoutine readAt, void *context, uint64_t endAt, uint64_t archiveStart,
                        EndRecord *record, uint64_t *directoryEnd) {
  *directoryEnd = endAt;
  uint8_t bytes[Zip64EndSize];
  uint64_t recorded;
  if (endAt < archiveStart + Zip64LocatorSize || !readAt(context, endAt - Zip64LocatorSize, bytes, Zip64LocatorSize) ||
      !DecodeZip64Locator(bytes, &recorded))
    return true;
  uint64_t locatorAt = endAt - Zip64LocatorSize;
  // Right before the locator, then as recorded from either base: the same two
  // bases every other offset of an archive behind a stub may count from.
  const uint64_t places[3] = {locatorAt - Zip64EndSize, archiveStart + recorded, recorded};
  for (uint32_t i = 0; i < 3; i++) {
    uint64_t at = places[i];
    if (at < archiveStart || at > locatorAt || locatorAt - at < Zip64EndSize || (i == 2 && at == places[1])) continue;
    EndRecord found;
    if (!readAt(context, at, bytes, Zip64EndSize) || !DecodeZip64EndRecord(bytes, &found)) continue;
    // The record, extensible data and all, must end before the locator.
    if (GetLE64(bytes + Zip64EndLength) > locatorAt - at - Zip64EndLeadSize) continue;
    *record = found;
    *directoryEnd = at;
    return true;
  }
  return !EndRecordIsSaturated(*record);
}

enum : uint32_t { DirectoryBufferSize = 2 * 65536 + 1024 };  // a fixed part, the longest name and extra field
static_assert(DirectoryBufferSize >= EntrySize + MaxNameLength + 65535, "a record's extra field fits");

void OpenDirectoryReader(DirectoryReader *r, const EndRecord &end, bool zip64) {
  memset(r, 0, sizeof *r);
  r->Buffer = (uint8_t *)AllocateMemory(DirectoryBufferSize);
  r->Size = end.DirectorySize;
  r->Expected = end.TotalEntries;
  r->DirectoryOffset = end.DirectoryOffset;
  r->CountWraps = !zip64;
}

void CloseDirectoryReader(DirectoryReader *r) {
  ReleaseMemory(r->Buffer);
  ReleaseMemory(r->Spans);
  r->Buffer = nullptr;
  r->Spans = nullptr;
}

// Makes `count` unused bytes available at Buffer + Pos (count at most the buffer's
// size), reading on as often as the archive gives more. False when it ends first.
static bool HaveBytes(DirectoryReader *r, uint32_t count) {
  if (r->Length - r->Pos >= count) return true;
  memmove(r->Buffer, r->Buffer + r->Pos, r->Length - r->Pos);
  r->Length -= r->Pos;
  r->Pos = 0;
  while (r->Length < count) {
    uint32_t got = ReadArchive(r->Buffer + r->Length, DirectoryBufferSize - r->Length);
    if (got == 0) return false;
    r->Length += got;
  }
  return true;
}

// Passes over the bytes still to skip; false when the archive ends first.
static bool SkipBytes(DirectoryReader *r) {
  while (r->Skip > 0) {
    if (r->Pos == r->Length && !HaveBytes(r, 1)) return false;
    uint32_t n = r->Length - r->Pos < r->Skip ? r->Length - r->Pos : r->Skip;
    r->Pos += n;
    r->Skip -= n;
    r->Consumed += n;
  }
  return true;
}

bool ReadDirectoryRecord(DirectoryReader *r, DirectoryRecord *record) {
  if (!SkipBytes(r) || !HaveBytes(r, EntrySize)) return false;
  record->Offset = r->Consumed;
  memcpy(record->Entry.Bytes, r->Buffer + r->Pos, EntrySize);
  uint32_t nameLength = Field16(record->Entry, EntryNameLength);
  if (!HasSignature(record->Entry.Bytes, CentralHeaderSignature) || nameLength == 0 || nameLength > MaxNameLength)
    return false;
  if (!HaveBytes(r, EntrySize + nameLength)) return false;
  memcpy(record->Name, r->Buffer + r->Pos + EntrySize, nameLength);
  record->Name[nameLength] = 0;
  record->NameLength = nameLength;
  uint32_t used = EntrySize + nameLength;
  uint32_t extraLength = Field16(record->Entry, EntryExtraLength);
  record->Extra = nullptr;
  record->ExtraLength = 0;
  if (HaveBytes(r, used + extraLength)) {
    record->Extra = r->Buffer + r->Pos + used;
    record->ExtraLength = (uint16_t)extraLength;
    used += extraLength;
    extraLength = 0;
  }
  r->Pos += used;
  r->Consumed += used;
  r->Skip = extraLength + Field16(record->Entry, EntryCommentLength);
  return true;
}

// Heapsort: no library sort in the stub, and its worst case is as good as its best.
static void SortSpans(MemberSpan *s, size_t count) {
  auto sift = [s](size_t root, size_t end) {
    for (size_t child; (child = 2 * root + 1) < end; root = child) {
      if (child + 1 < end && s[child + 1].Start > s[child].Start) child++;
      if (s[root].Start >= s[child].Start) return;
      MemberSpan t = s[root];
      s[root] = s[child];
      s[child] = t;
    }
  };
  for (size_t i = count / 2; i-- > 0;) sift(i, count);
  for (size_t end = count; end-- > 1;) {
    MemberSpan t = s[0];
    s[0] = s[end];
    s[end] = t;
    sift(0, end);
  }
}

bool SpansApart(MemberSpan *spans, size_t count, uint64_t directoryOffset) {
  SortSpans(spans, count);
  for (size_t i = 0; i < count; i++)
    if (spans[i].End > (i + 1 < count ? spans[i + 1].Start : directoryOffset)) return false;
  return true;
}

uint64_t MemberSpanLimit(const DirectoryReader *r, uint64_t localHeaderOffset) {
  size_t low = 0, high = r->SpanCount;  // the first span that starts behind the member
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    if (r->Spans[middle].Start <= localHeaderOffset) low = middle + 1;
    else high = middle;
  }
  return low < r->SpanCount ? r->Spans[low].Start : r->DirectoryOffset;
}

bool MemberDataFits(const MemberInfo &m, uint32_t skip) {
  uint64_t data = m.LocalHeaderOffset + LocalHeaderSize + skip;
  return data >= m.LocalHeaderOffset && data <= m.DataLimit && m.CompressedSize <= m.DataLimit - data;
}

// Keeps the member's span for the check at the end, in a block that doubles as it fills.
static void KeepSpan(DirectoryReader *r, const MemberInfo &m) {
  if (r->SpanCount == r->SpanRoom) {
    size_t room = r->SpanRoom ? 2 * r->SpanRoom : 256;
    if (room > (size_t)-1 / sizeof(MemberSpan)) OutOfMemory();
    MemberSpan *spans = (MemberSpan *)AllocateMemory(room * sizeof(MemberSpan));
    if (r->Spans) memcpy(spans, r->Spans, r->SpanCount * sizeof(MemberSpan));
    ReleaseMemory(r->Spans);
    r->Spans = spans;
    r->SpanRoom = room;
  }
  uint64_t end = m.LocalHeaderOffset + LocalHeaderSize + Field16(m, EntryNameLength) + m.CompressedSize;
  r->Spans[r->SpanCount++] = {m.LocalHeaderOffset, end < m.LocalHeaderOffset ? ~(uint64_t)0 : end};
}

DirectoryStep ReadDirectoryMember(DirectoryReader *r, DirectoryRecord *record, MemberInfo *member) {
  if (r->Consumed + r->Skip == r->Size) {
    bool agree = r->Records == r->Expected || (r->CountWraps && (r->Records & 0xFFFF) == r->Expected);
    if (!agree) return DirectoryStep::BadCount;
    return SpansApart(r->Spans, r->SpanCount, r->DirectoryOffset) ? DirectoryStep::End : DirectoryStep::Overlap;
  }
  if (!ReadDirectoryRecord(r, record)) return DirectoryStep::BadRecord;
  if (r->Consumed + r->Skip > r->Size) return DirectoryStep::BadCount;
  if (!DescribeMember(*record, member)) return DirectoryStep::BadZip64Field;
  KeepSpan(r, *member);
  r->Records++;
  return DirectoryStep::Member;
}

// The exact modification time some writers add to the extra field, in FILETIME
// ticks: the NTFS field (0x000A) or the extended timestamp (0x5455, Unix
// seconds); 0 when the field carries none.
static uint64_t ExtraFieldModifiedTime(const uint8_t *extra, uint32_t length) {
  enum : uint16_t { NtfsField = 0x000A, NtfsTimes = 0x0001, TimestampField = 0x5455 };
  enum : uint64_t { UnixEpochTicks = 116444736000000000ull, TicksPerSecond = 10000000 };
  uint64_t unixTime = 0;
  for (uint32_t at = 0; at + 4 <= length;) {
    uint16_t id = GetLE16(extra + at), size = GetLE16(extra + at + 2);
    const uint8_t *data = extra + at + 4;
    at += 4 + size;
    if (at > length) break;
    if (id == NtfsField) {
      // Four reserved bytes, then tagged attributes; tag 1 holds the write, access and creation times.
      for (uint32_t t = 4; t + 4 <= size;) {
        uint16_t tag = GetLE16(data + t), tagSize = GetLE16(data + t + 2);
        if (tag == NtfsTimes && tagSize >= 8 && t + 4 + 8 <= size)
          return GetLE32(data + t + 4) | (uint64_t)GetLE32(data + t + 8) << 32;
        t += 4 + tagSize;
      }
    } else if (id == TimestampField && size >= 5 && (data[0] & 1)) {
      // Flag bit 0: the modification time comes first, as signed Unix seconds.
      unixTime = (uint64_t)((int64_t)(int32_t)GetLE32(data + 1) * TicksPerSecond + UnixEpochTicks);
    }
  }
  return unixTime;
}

bool DescribeMember(const DirectoryRecord &record, MemberInfo *info) {
  memcpy(info->Bytes, record.Entry.Bytes, EntrySize);
  info->ModifiedUtc = ExtraFieldModifiedTime(record.Extra, record.ExtraLength);
  info->Aes = Field16(record.Entry, EntryMethod) == MethodAes ? ExtraFieldAes(record.Extra, record.ExtraLength)
                                                              : AesInfo{0, 0, 0};
  info->DataLimit = 0;  // no room until the whole directory is known
  uint64_t *values[Zip64ValueCount] = {&info->UncompressedSize, &info->CompressedSize, &info->LocalHeaderOffset};
  const uint32_t fields[Zip64ValueCount] = {EntryUncompressedSize, EntryCompressedSize, EntryLocalHeaderOffset};
  bool saturated[Zip64ValueCount];
  bool any = false;
  for (uint32_t v = 0; v < Zip64ValueCount; v++) {
    *values[v] = Field32(record.Entry, fields[v]);
    saturated[v] = *values[v] == Zip64Marker;
    any |= saturated[v];
  }
  if (!any) return true;
  int32_t places[Zip64ValueCount];
  bool whole = FindZip64Values(record.Extra, record.ExtraLength, saturated, places);
  for (uint32_t v = 0; v < Zip64ValueCount; v++)
    if (places[v] >= 0) *values[v] = GetLE64(record.Extra + places[v]);
  return whole;
}

// The data of the first field of this id in an extra field, and its size; null
// when there is none whole.
static const uint8_t *FindExtraField(const uint8_t *extra, uint32_t length, uint16_t id, uint32_t *size) {
  for (uint32_t at = 0; at + 4 <= length;) {
    uint32_t fieldSize = GetLE16(extra + at + 2);
    if (at + 4 + fieldSize > length) break;
    if (GetLE16(extra + at) == id) {
      *size = fieldSize;
      return extra + at + 4;
    }
    at += 4 + fieldSize;
  }
  return nullptr;
}

// Version (2 bytes), vendor "AE", strength (1 byte), method (2 bytes).
AesInfo ExtraFieldAes(const uint8_t *extra, uint32_t length) {
  uint32_t size;
  const uint8_t *data = FindExtraField(extra, length, AesFieldId, &size);
  AesInfo aes = {0, 0, 0};
  if (!data || size < AesFieldSize || data[2] != 'A' || data[3] != 'E' || GetLE16(data) - 1u > 1u ||
      data[4] - 1u > 2u)
    return aes;
  aes.Version = data[0];
  aes.Strength = data[4];
  aes.Method = GetLE16(data + 5);
  return aes;
}

uint16_t DataMethod(const MemberInfo &member) {
  uint16_t method = Field16(member, EntryMethod);
  return method == MethodAes && member.Aes.Version ? member.Aes.Method : method;
}

bool FindZip64Values(const uint8_t *extra, uint32_t length, const bool saturated[Zip64ValueCount],
                     int32_t places[Zip64ValueCount]) {
  uint32_t size = 0, next = 0;  // the ZIP64 field's data; empty while there is none
  const uint8_t *field = FindExtraField(extra, length, Zip64FieldId, &size);
  if (field) next = (uint32_t)(field - extra);
  uint32_t end = next + size;
  for (uint32_t v = 0; v < Zip64ValueCount; v++) places[v] = -1;
  // Only the values whose fields hold the marker are there, packed in order.
  for (uint32_t v = 0; v < Zip64ValueCount; v++) {
    if (!saturated[v]) continue;
    if (next + 8 > end) return false;
    places[v] = (int32_t)next;
    next += 8;
  }
  return true;
}

bool LocalHeaderSkip(const uint8_t *local, uint32_t *skip) {
  if (!HasSignature(local, LocalHeaderSignature)) return false;
  *skip = (uint32_t)GetLE16(local + LocalNameLength) + GetLE16(local + LocalExtraLength);
  return true;
}

bool NameIsFlaggedUtf8(const ArchiveEntry &entry) { return (Field16(entry, EntryFlags) & FlagUtf8Name) != 0; }

bool NameIsFromUnix(const ArchiveEntry &entry) {
  enum : uint8_t { HostUnix = 3 };
  return entry.Bytes[EntryVersionMadeBy + 1] == HostUnix;
}

bool ExtraFieldUnicodePath(const uint8_t *extra, uint32_t length, const char *storedName, uint32_t storedLength,
                           const char **utf8, uint32_t *utf8Length) {
  enum : uint16_t { UnicodePathField = 0x7075 };
  for (uint32_t at = 0; at + 4 <= length;) {
    uint16_t id = GetLE16(extra + at), size = GetLE16(extra + at + 2);
    const uint8_t *data = extra + at + 4;
    at += 4 + size;
    if (at > length) break;
    // Version 1, the CRC-32 of the name as stored, then the name in UTF-8.
    if (id != UnicodePathField || size < 6 || data[0] != 1) continue;
    uint32_t crc = 0xFFFFFFFFu;
    UpdateCrcBuffer((const uint8_t *)storedName, (int32_t)storedLength, crc);
    if (~crc != GetLE32(data + 1)) continue;
    *utf8 = (const char *)data + 5;
    *utf8Length = size - 5u;
    return true;
  }
  return false;
}

bool NameIsOem(const ArchiveEntry &entry) {
  enum : uint8_t { HostDos = 0, HostOs2 = 6, HostNtfs = 11 };
  uint16_t madeBy = Field16(entry, EntryVersionMadeBy);
  uint8_t host = (uint8_t)(madeBy >> 8), version = (uint8_t)madeBy;
  return host == HostDos || host == HostOs2 || (host == HostNtfs && version == 50);
}

void SeparatorsToBackslashes(char *name, uint32_t length) {
  for (uint32_t i = 0; i < length; i++)
    if (name[i] == '/') name[i] = '\\';
}

bool IsFolderName(const char *name, uint32_t length) {
  return length > 0 && (name[length - 1] == '\\' || name[length - 1] == '/');
}

static char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

static bool IsDeviceName(const char *component, uint32_t length) {
  uint32_t base = 0;
  while (base < length && component[base] != '.') base++;
  while (base > 0 && component[base - 1] == ' ') base--;
  if (base < 3 || base > 7) return false;
  char upper[8];
  for (uint32_t i = 0; i < base; i++) upper[i] = UpperAscii(component[i]);
  upper[base] = 0;
  static const char *const fixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char *name : fixed)
    if (strcmp(upper, name) == 0) return true;
  if (memcmp(upper, "COM", 3) != 0 && memcmp(upper, "LPT", 3) != 0) return false;
  // A digit 1-9, or one of the superscripts U+00B9, U+00B2, U+00B3 in UTF-8.
  uint8_t digit = (uint8_t)upper[3];
  if (base == 4) return digit >= '1' && digit <= '9';
  uint8_t second = (uint8_t)upper[4];
  return base == 5 && digit == 0xC2 && (second == 0xB9 || second == 0xB2 || second == 0xB3);
}

static bool IsParentComponent(const char *component, uint32_t length) {
  uint32_t dots = 0;
  for (uint32_t i = 0; i < length; i++) {
    if (component[i] == '.') dots++;
    else if (component[i] != ' ') return false;
  }
  return dots >= 2;
}

NameRefusal RefuseName(const char *name, uint32_t length) {
  if (length == 0 || name[0] == '\\' || name[0] == '/' || memchr(name, ':', length)) return NameLeavesFolder;
  for (uint32_t start = 0; start <= length;) {
    uint32_t end = start;
    while (end < length && name[end] != '\\' && name[end] != '/') end++;
    if (IsParentComponent(name + start, end - start)) return NameLeavesFolder;
    if (IsDeviceName(name + start, end - start)) return NameIsDevice;
    start = end + 1;
  }
  return NameAccepted;
}
