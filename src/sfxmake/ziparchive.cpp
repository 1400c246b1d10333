// ziparchive.cpp -- reading a ZIP archive's directory with the stub's own reader,
// and the checks that keep sfxmake from producing a program the stub cannot unpack.
#include "ziparchive.h"

#include <algorithm>
#include <iostream>

#include "coreglue.h"
#include "errors.h"
#include "platform.h"

namespace {
// True when the extra field between `from` and `to` holds a ZIP64 record (ID 1).
bool HasZip64Field(const Bytes &file, uint64_t from, uint64_t to) {
  for (uint64_t x = from; x + 4 <= to; x += 4 + GetLE16(&file[x + 2]))
    if (GetLE16(&file[x]) == 0x0001) return true;
  return false;
}

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(const std::string &s) {
  for (size_t i = 0; i < s.size();) {
    uint8_t b = (uint8_t)s[i];
    size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC2 || (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 9;
    if (extra == 9 || b == 0xC0 || b == 0xC1 || b > 0xF4 || i + extra >= s.size() + (extra ? 0 : 1)) return false;
    uint32_t c = extra ? b & (0x3F >> extra) : b;
    for (size_t k = 1; k <= extra; ++k) {
      if (((uint8_t)s[i + k] & 0xC0) != 0x80) return false;
      c = (c << 6) | ((uint8_t)s[i + k] & 0x3F);
    }
    if ((extra == 2 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)))
      return false;
    i += extra + 1;
  }
  return true;
}

// A record the reader refused still stands at the reader's position when its
// fixed part was there: a name too long for the stub deserves its own message.
[[noreturn]] void Damaged(DirectoryReader &reader, const std::string &what, uint32_t record) {
  bool tooLong = reader.Length - reader.Pos >= EntrySize &&
                 GetLE16(reader.Buffer + reader.Pos + EntryNameLength) > MaxNameLength;
  CloseDirectoryReader(&reader);
  if (tooLong) throw InputError(what + ": member name of record " + std::to_string(record) + " is longer than 520 bytes");
  throw InputError(what + ": central directory record " + std::to_string(record) + " is damaged");
}
}  // namespace

// The stub's rule for what a name's bytes are (see zipformat.h).
std::string ZipMember::DisplayName() const {
  bool valid = IsUtf8(RawName);
  if ((Flags & FlagUtf8Name) && valid) return RawName;
  if (!UnicodePath.empty()) return UnicodePath;
  bool oem = VersionMadeBy >> 8 == 0 || VersionMadeBy >> 8 == 6 || VersionMadeBy == ((11 << 8) | 50);
  if (!oem && VersionMadeBy >> 8 == 3 && valid) return RawName;
  return NameToUtf8(RawName, false, oem);
}

const char *RefusalText(NameRefusal refusal) {
  return refusal == NameIsDevice ? "its name is reserved for a device" : "its name leads outside the target folder";
}

ZipDirectory ReadZipDirectory(const Bytes &file, uint64_t start, const std::string &what) {
  PrepareCore();
  ZipDirectory dir;
  uint32_t window = EndRecordWindowSize(file.size(), start);
  int32_t at = window ? FindEndSignature(&file[file.size() - window], window) : -1;
  if (at < 0) throw InputError(what + " is not a ZIP archive (no end of central directory record)");
  dir.EndAt = file.size() - window + (uint32_t)at;
  EndRecord end;
  DecodeEndRecord(&file[dir.EndAt], &end);
  dir.Entries = end.TotalEntries;
  dir.DirectorySize = end.DirectorySize;
  dir.DirectoryOffset = end.DirectoryOffset;
  dir.Zip64 = dir.Entries == 0xFFFF || dir.DirectorySize == 0xFFFFFFFFu || dir.DirectoryOffset == 0xFFFFFFFFu ||
              (dir.EndAt >= Zip64LocatorSize && GetLE32(&file[dir.EndAt - Zip64LocatorSize]) == Zip64LocatorSignature);
  if (dir.Zip64) return dir;  // the fields cannot be trusted; the caller refuses it
  if (end.ThisDisk || end.DirectoryDisk || end.DiskEntries != dir.Entries)
    throw InputError(what + " is a multi-part archive, which cannot be carried by a self-extracting program");
  uint64_t recorded = (uint64_t)dir.DirectoryOffset + dir.DirectorySize;
  if (recorded > dir.EndAt) throw InputError(what + ": the central directory lies outside the file");
  dir.Base = dir.EndAt - recorded;
  if (dir.Entries == 0) return dir;  // the caller refuses an empty archive by name
  uint32_t base;
  uint64_t directoryAt;
  LocateDirectory(dir.EndAt, end, &base, &directoryAt);

  ArchiveCursor cursor(file, directoryAt);
  DirectoryReader reader;
  OpenDirectoryReader(&reader);
  DirectoryRecord record;
  for (uint32_t i = 0; i < dir.Entries; ++i) {
    if (!ReadDirectoryRecord(&reader, &record)) Damaged(reader, what, i + 1);
    const ArchiveEntry &e = record.Entry;
    ZipMember m;
    m.CentralAt = directoryAt + record.Offset;
    m.VersionMadeBy = Field16(e, EntryVersionMadeBy);
    m.Flags = Field16(e, EntryFlags);
    m.Method = Field16(e, EntryMethod);
    m.DosTime = Field16(e, EntryDosTime);
    m.DosDate = Field16(e, EntryDosDate);
    m.Crc = Field32(e, EntryCrc32);
    m.Compressed = Field32(e, EntryCompressedSize);
    m.Uncompressed = Field32(e, EntryUncompressedSize);
    m.LocalOffset = Field32(e, EntryLocalHeaderOffset);
    m.ModifiedUtc = ExtraFieldModifiedTime(record.Extra, record.ExtraLength);
    // The stub reads a name up to its first zero byte.
    m.RawName.assign(record.Name);
    if (m.RawName.empty()) Damaged(reader, what, i + 1);
    const char *unicode;
    uint32_t unicodeLength;
    if (ExtraFieldUnicodePath(record.Extra, record.ExtraLength, record.Name, record.NameLength, &unicode, &unicodeLength) &&
        IsUtf8(std::string(unicode, unicodeLength)))
      m.UnicodePath.assign(unicode, unicodeLength);
    std::string name = m.DisplayName();
    m.IsFolder = IsFolderName(name.data(), (uint32_t)name.size());
    m.Refusal = RefuseName(name.data(), (uint32_t)name.size());
    uint64_t extra = m.CentralAt + EntrySize + record.NameLength;
    m.Zip64Extra = record.Extra && HasZip64Field(file, extra, extra + record.ExtraLength);
    if (m.Compressed == 0xFFFFFFFFu || m.Uncompressed == 0xFFFFFFFFu || m.LocalOffset == 0xFFFFFFFFu) m.Zip64Extra = true;
    dir.Members.push_back(std::move(m));
  }
  CloseDirectoryReader(&reader);
  return dir;
}

uint64_t MemberDataOffset(const Bytes &file, const ZipDirectory &dir, const ZipMember &m) {
  uint64_t at = dir.Base + m.LocalOffset;
  uint32_t skip;
  if (at + LocalHeaderSize > file.size() || !LocalHeaderSkip(&file[at], &skip))
    throw InputError("no local header where the directory places " + m.DisplayName());
  uint64_t data = at + LocalHeaderSize + skip;
  if (data + m.Compressed > file.size()) throw InputError("the data of " + m.DisplayName() + " runs past the end of the file");
  return data;
}

void CheckArchiveForStub(const Bytes &file, const ZipDirectory &dir, const std::string &what, bool warn) {
  if (dir.Zip64) throw InputError(what + " is a ZIP64 archive; the stub reads only 32-bit sizes and offsets");
  if (dir.Members.empty()) throw InputError(what + " is empty; the stub refuses an archive without members");
  if (file.size() - dir.Base >= 0xFFFFFFFFull)
    throw InputError(what + " is 4 GiB or larger; the stub reads only 32-bit sizes and offsets");
  std::string refused;
  for (const ZipMember &m : dir.Members)
    if (m.Refusal != NameAccepted) refused += "\n  " + m.DisplayName() + ": " + RefusalText(m.Refusal);
  if (!refused.empty()) throw InputError(what + ": the stub would refuse to unpack these members:" + refused);
  size_t files = 0;
  for (const ZipMember &m : dir.Members) {
    std::string name = m.DisplayName();
    if (m.Zip64Extra) throw InputError(what + ": member " + name + " needs ZIP64 (4 GiB or more)");
    if (m.IsFolder) continue;
    ++files;
    if (m.Method != MethodStored && m.Method != MethodDeflated)
      throw InputError(what + ": member " + name + " uses compression method " + std::to_string(m.Method) +
                       "; the stub unpacks only stored and deflated members");
    if ((m.Flags & FlagStrongEncryption) || (m.Encrypted() && m.Compressed < CryptHeaderSize))
      throw InputError(what + ": member " + name + " uses an encryption the stub does not know");
    // ZIP64 fields in the local header alone still mark a ZIP64 archive.
    uint64_t data = MemberDataOffset(file, dir, m);
    if (HasZip64Field(file, data - GetLE16(&file[dir.Base + m.LocalOffset + LocalExtraLength]), data))
      throw InputError(what + ": member " + name + " carries ZIP64 fields; the stub reads only 32-bit sizes");
    // The stub shows names in the ANSI code page.
    bool ascii = std::all_of(m.RawName.begin(), m.RawName.end(), [](char ch) { return (uint8_t)ch < 0x80; });
    if (warn && !ascii && ((m.Flags & FlagUtf8Name) || name == m.RawName))
      std::cerr << "sfxmake: warning: " << name << " is stored in UTF-8; the ANSI code page cannot hold it as is,"
                << " so the stub will show it garbled\n";
  }
  if (files == 0) throw InputError(what + " holds only folders; the stub would have nothing to unpack");
}

void AdjustOffsets(Bytes &archive, const ZipDirectory &dir, uint64_t add) {
  auto shift = [&](uint64_t at) {
    uint64_t moved = GetLE32(&archive[at]) + add;
    if (moved >= 0xFFFFFFFFull) throw InputError("adjusted offsets would reach 4 GiB; the stub reads only 32-bit offsets");
    PutLE32(&archive[at], (uint32_t)moved);
  };
  for (const ZipMember &m : dir.Members) shift(m.CentralAt + EntryLocalHeaderOffset);
  shift(dir.EndAt + EndDirectoryOffset);
}
