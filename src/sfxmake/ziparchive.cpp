// ziparchive.cpp -- reading a ZIP archive's directory the way the stub does, and
// the checks that keep sfxmake from producing a program the stub cannot unpack.
#include "ziparchive.h"

#include <algorithm>
#include <iostream>

#include "errors.h"
#include "platform.h"
#include "sfxcore.h"

namespace {
// True when the extra field between `from` and `to` holds a ZIP64 record (ID 1).
bool HasZip64Field(const Bytes &file, uint64_t from, uint64_t to) {
  for (uint64_t x = from; x + 4 <= to; x += 4 + GetLE16(&file[x + 2]))
    if (GetLE16(&file[x]) == 0x0001) return true;
  return false;
}
}  // namespace

std::string ZipMember::DisplayName() const {
  uint8_t host = VersionMadeBy >> 8, version = VersionMadeBy & 0xFF;
  bool oem = host == 0 || host == 6 || (host == 11 && version == 50);
  return NameToUtf8(RawName, Flags & FlagUtf8, oem);
}

bool FindEndRecord(const Bytes &file, uint64_t start, uint64_t *endAt) {
  if (start > file.size()) return false;
  uint64_t window = std::min<uint64_t>(file.size() - start, EndRecordWindow);
  if (window <= EndRecordSize) return false;
  uint64_t from = file.size() - window;
  for (uint64_t p = from; p <= file.size() - EndRecordSize; ++p)
    if (GetLE32(&file[p]) == EndSignature) {
      *endAt = p;
      return true;
    }
  return false;
}

ZipDirectory ReadZipDirectory(const Bytes &file, uint64_t start, const std::string &what) {
  ZipDirectory dir;
  if (!FindEndRecord(file, start, &dir.EndAt)) throw InputError(what + " is not a ZIP archive (no end of central directory record)");
  const uint8_t *end = &file[dir.EndAt];
  dir.Entries = GetLE16(end + EndTotalEntries);
  dir.DirectorySize = GetLE32(end + EndDirectorySize);
  dir.DirectoryOffset = GetLE32(end + EndDirectoryOffset);
  dir.Zip64 = dir.Entries == 0xFFFF || dir.DirectorySize == 0xFFFFFFFFu || dir.DirectoryOffset == 0xFFFFFFFFu ||
              (dir.EndAt >= Zip64LocatorSize && GetLE32(&file[dir.EndAt - Zip64LocatorSize]) == Zip64LocatorSignature);
  if (dir.Zip64) return dir;  // the fields cannot be trusted; the caller refuses it
  if (GetLE16(end + EndThisDisk) || GetLE16(end + EndDirectoryDisk) || GetLE16(end + EndDiskEntries) != dir.Entries)
    throw InputError(what + " is a multi-part archive, which cannot be carried by a self-extracting program");
  uint64_t recorded = (uint64_t)dir.DirectoryOffset + dir.DirectorySize;
  if (recorded > dir.EndAt) throw InputError(what + ": the central directory lies outside the file");
  dir.Base = dir.EndAt - recorded;
  // Like the stub, take the directory to end where the end record begins.
  uint64_t pos = dir.EndAt - dir.DirectorySize;
  for (uint32_t i = 0; i < dir.Entries; ++i) {
    if (pos + EntrySize > dir.EndAt || GetLE32(&file[pos]) != CentralSignature)
      throw InputError(what + ": central directory record " + std::to_string(i + 1) + " is damaged");
    const uint8_t *c = &file[pos];
    ZipMember m;
    m.CentralAt = pos;
    m.VersionMadeBy = GetLE16(c + EntryVersionMadeBy);
    m.Flags = GetLE16(c + EntryFlags);
    m.Method = GetLE16(c + EntryMethod);
    m.DosTime = GetLE16(c + EntryDosTime);
    m.DosDate = GetLE16(c + EntryDosDate);
    m.Crc = GetLE32(c + EntryCrc32);
    m.Compressed = GetLE32(c + EntryCompressedSize);
    m.Uncompressed = GetLE32(c + EntryUncompressedSize);
    m.LocalOffset = GetLE32(c + EntryLocalHeaderOffset);
    uint16_t nameLength = GetLE16(c + EntryNameLength), extraLength = GetLE16(c + EntryExtraLength);
    uint64_t next = pos + EntrySize + nameLength + extraLength + GetLE16(c + EntryCommentLength);
    if (next > dir.EndAt) throw InputError(what + ": central directory record " + std::to_string(i + 1) + " is damaged");
    m.RawName.assign((const char *)c + EntrySize, nameLength);
    m.IsFolder = !m.RawName.empty() && (m.RawName.back() == '/' || m.RawName.back() == '\\');
    uint64_t extra = pos + EntrySize + nameLength;
    m.Zip64Extra = HasZip64Field(file, extra, extra + extraLength);
    if (m.Compressed == 0xFFFFFFFFu || m.Uncompressed == 0xFFFFFFFFu || m.LocalOffset == 0xFFFFFFFFu) m.Zip64Extra = true;
    dir.Members.push_back(std::move(m));
    pos = next;
  }
  return dir;
}

uint64_t MemberDataOffset(const Bytes &file, const ZipDirectory &dir, const ZipMember &m) {
  uint64_t at = dir.Base + m.LocalOffset;
  if (at + LocalHeaderSize > file.size() || GetLE32(&file[at]) != LocalSignature)
    throw InputError("no local header where the directory places " + m.DisplayName());
  uint64_t data = at + LocalHeaderSize + GetLE16(&file[at + LocalNameLength]) + GetLE16(&file[at + LocalExtraLength]);
  if (data + m.Compressed > file.size()) throw InputError("the data of " + m.DisplayName() + " runs past the end of the file");
  return data;
}

bool NameLeavesFolder(const std::string &name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() >= 2 && name[1] == ':')) return true;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

void CheckArchiveForStub(const Bytes &file, const ZipDirectory &dir, const std::string &what, bool warn) {
  if (dir.Zip64) throw InputError(what + " is a ZIP64 archive; the stub reads only 32-bit sizes and offsets");
  if (dir.Members.empty()) throw InputError(what + " is empty; the stub refuses an archive without members");
  if (file.size() - dir.Base >= 0xFFFFFFFFull)
    throw InputError(what + " is 4 GiB or larger; the stub reads only 32-bit sizes and offsets");
  size_t files = 0;
  for (const ZipMember &m : dir.Members) {
    std::string name = m.DisplayName();
    if (m.Zip64Extra) throw InputError(what + ": member " + name + " needs ZIP64 (4 GiB or more)");
    if (m.RawName.empty()) throw InputError(what + ": a member has an empty name");
    if (m.RawName.size() > MaxNameLength) throw InputError(what + ": member name longer than 520 bytes: " + name);
    if (NameLeavesFolder(m.RawName))
      throw InputError(what + ": member name is absolute or contains '..': " + name);
    if (m.IsFolder) continue;
    ++files;
    if (m.Method != MethodStored && m.Method != MethodDeflated)
      throw InputError(what + ": member " + name + " uses compression method " + std::to_string(m.Method) +
                       "; the stub unpacks only stored and deflated members");
    if ((m.Flags & 0x0040) || (m.Encrypted() && m.Compressed < 12))
      throw InputError(what + ": member " + name + " uses an encryption the stub does not know");
    // ZIP64 fields in the local header alone still mark a ZIP64 archive.
    uint64_t data = MemberDataOffset(file, dir, m);
    if (HasZip64Field(file, data - GetLE16(&file[dir.Base + m.LocalOffset + LocalExtraLength]), data))
      throw InputError(what + ": member " + name + " carries ZIP64 fields; the stub reads only 32-bit sizes");
    // The stub shows names in the ANSI code page and never looks at the UTF-8 flag.
    bool ascii = std::all_of(m.RawName.begin(), m.RawName.end(), [](char ch) { return (uint8_t)ch < 0x80; });
    if (warn && !ascii && ((m.Flags & FlagUtf8) || name == m.RawName))
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
