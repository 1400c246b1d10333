// ziparchive.cpp -- reading a ZIP archive's directory with the stub's own reader,
// and the checks that keep sfxmake from producing a program the stub cannot unpack.
#include "ziparchive.h"

#include <algorithm>

#include "coreglue.h"
#include "decode.h"
#include "decrypt.h"
#include "errors.h"
#include "platform.h"
#include "utf8.h"

namespace {
// The core's reads at a position, over the file in memory.
bool ReadFileAt(void *context, uint64_t at, uint8_t *bytes, uint32_t count) {
  const ByteView &file = *(const ByteView *)context;
  if (at > file.size() || file.size() - at < count) return false;
  std::copy(file.begin() + at, file.begin() + at + count, bytes);
  return true;
}

// Why the directory reader stopped, as sfxmake says it. A record the reader
// refused still stands at the reader's position when its fixed part was there:
// a name too long for the stub deserves its own message.
[[noreturn]] void DirectoryFault(DirectoryReader &reader, DirectoryStep step, const std::string &what, uint64_t record) {
  bool tooLong = reader.Length - reader.Pos >= EntrySize &&
                 GetLE16(reader.Buffer + reader.Pos + EntryNameLength) > MaxNameLength;
  uint64_t read = reader.Records, expected = reader.Expected;
  CloseDirectoryReader(&reader);
  std::string n = std::to_string(record);
  switch (step) {
    case DirectoryStep::BadZip64Field:
      throw InputError(what + ": central directory record " + n + " lacks the ZIP64 field its sizes or offset ask for");
    case DirectoryStep::BadCount:
      throw InputError(what + ": the central directory holds " + std::to_string(read) +
                       " records where its end record counts " + std::to_string(expected) + " (damaged archive)");
    case DirectoryStep::Overlap:
      throw InputError(what + ": members overlap each other or the central directory (damaged archive)");
    default:
      if (tooLong) throw InputError(what + ": member name of record " + n + " is longer than 520 bytes");
      throw InputError(what + ": central directory record " + n + " is damaged");
  }
}
}  // namespace

// The stub's rule for what a name's bytes are (see zipformat.h).
std::string ZipMember::DisplayName() const {
  bool valid = IsUtf8(RawName);
  if (NameIsFlaggedUtf8(*this) && valid) return RawName;
  if (!UnicodePath.empty()) return UnicodePath;
  if (NameIsFromUnix(*this) && valid) return RawName;
  return NameToUtf8(RawName, false, NameIsOem(*this));
}

std::string ZipMember::ShownName() const { return Escape(DisplayName(), Escaping::Plain); }

std::string ZipMember::TreePath() const {
  std::string path = DisplayName();
  std::replace(path.begin(), path.end(), '\\', '/');
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

const char *RefusalText(NameRefusal refusal) {
  return refusal == NameIsDevice ? "its name is reserved for a device" : "its name leads outside the target folder";
}

ZipDirectory ReadZipDirectory(ByteView file, uint64_t start, const std::string &what) {
  PrepareCore();
  ZipDirectory dir;
  uint32_t window = EndRecordWindowSize(file.size(), start);
  int32_t at = window ? FindEndSignature(&file[file.size() - window], window) : -1;
  if (at < 0) throw InputError(what + " is not a ZIP archive (no end of central directory record)");
  dir.EndAt = file.size() - window + (uint32_t)at;
  EndRecord end;
  DecodeEndRecord(&file[dir.EndAt], &end);
  uint64_t directoryEnd;
  if (!ReadZip64EndRecord(ReadFileAt, const_cast<ByteView *>(&file), dir.EndAt, start, &end, &directoryEnd))
    throw InputError(what + ": the ZIP64 end of central directory record is missing or damaged");
  dir.Zip64 = directoryEnd != dir.EndAt;
  dir.Zip64EndAt = dir.Zip64 ? directoryEnd : 0;
  if (end.ThisDisk || end.DirectoryDisk || end.DiskEntries != end.TotalEntries)
    throw InputError(what + " is a multi-part archive, which cannot be carried by a self-extracting program");
  if (end.DirectorySize > directoryEnd || end.DirectoryOffset > directoryEnd - end.DirectorySize)
    throw InputError(what + ": the central directory lies outside the file");
  uint64_t &directoryAt = dir.DirectoryAt;
  if (!LocateDirectory(directoryEnd, end, &dir.Base, &directoryAt)) return dir;  // the caller refuses an empty archive by name

  SetArchiveCursor(file, directoryAt);
  DirectoryReader reader;
  OpenDirectoryReader(&reader, end, dir.Zip64);
  DirectoryRecord record;
  ZipMember m;
  for (uint64_t i = 0;; ++i) {
    DirectoryStep step = ReadDirectoryMember(&reader, &record, &m);
    if (step == DirectoryStep::End) break;
    if (step != DirectoryStep::Member) DirectoryFault(reader, step, what, i + 1);
    const ArchiveEntry &e = record.Entry;
    uint64_t centralAt = directoryAt + record.Offset;
    m.CentralAt = centralAt;
    m.CentralSize = EntrySize + Field16(e, EntryNameLength) + Field16(e, EntryExtraLength) + Field16(e, EntryCommentLength);
    m.LocalOffsetAt = centralAt + EntryLocalHeaderOffset;
    if (Field32(e, EntryLocalHeaderOffset) == Zip64Marker) {
      const bool saturated[Zip64ValueCount] = {Field32(e, EntryUncompressedSize) == Zip64Marker,
                                               Field32(e, EntryCompressedSize) == Zip64Marker, true};
      int32_t places[Zip64ValueCount];
      FindZip64Values(record.Extra, record.ExtraLength, saturated, places);
      m.LocalOffsetAt = centralAt + EntrySize + Field16(e, EntryNameLength) + places[Zip64LocalHeaderOffset];
      m.LocalOffsetWide = true;
    }
    // The stub reads a name up to its first zero byte.
    m.RawName.assign(record.Name);
    if (m.RawName.empty()) DirectoryFault(reader, DirectoryStep::BadRecord, what, i + 1);
    const char *unicode;
    uint32_t unicodeLength;
    if (ExtraFieldUnicodePath(record.Extra, record.ExtraLength, record.Name, record.NameLength, &unicode, &unicodeLength) &&
        IsUtf8(std::string(unicode, unicodeLength)))
      m.UnicodePath.assign(unicode, unicodeLength);
    std::string name = m.DisplayName();
    m.IsFolder = IsFolderName(name.data(), (uint32_t)name.size());
    m.Refusal = RefuseName(name.data(), (uint32_t)name.size());
    dir.Members.push_back(std::move(m));
    m = ZipMember();
  }
  for (ZipMember &member : dir.Members) member.DataLimit = MemberSpanLimit(&reader, member.LocalHeaderOffset);
  CloseDirectoryReader(&reader);
  return dir;
}

uint64_t MemberDataOffset(ByteView file, const ZipDirectory &dir, const ZipMember &m) {
  uint64_t at = dir.Base + m.LocalHeaderOffset;
  uint32_t skip;
  if (m.LocalHeaderOffset > file.size() || at > file.size() || file.size() - at < LocalHeaderSize ||
      !LocalHeaderSkip(&file[at], &skip))
    throw InputError("no local header where the directory places " + m.ShownName());
  uint64_t data = at + LocalHeaderSize + skip;
  if (data > file.size() || m.CompressedSize > file.size() - data)
    throw InputError("the data of " + m.ShownName() + " runs past the end of the file");
  if (!MemberDataFits(m, skip))
    throw InputError("the local header of " + m.ShownName() +
                     " moves its data into the next member or the central directory (damaged archive)");
  return data;
}

void CheckSomethingToUnpack(const ZipDirectory &dir, const std::string &what) {
  if (dir.Members.empty()) throw InputError(what + " is empty; the stub refuses an archive without members");
  if (std::all_of(dir.Members.begin(), dir.Members.end(), [](const ZipMember &m) { return m.IsFolder; }))
    throw InputError(what + " holds only folders; the stub would have nothing to unpack");
}

void CheckArchiveForStub(ByteView file, const ZipDirectory &dir, const std::string &what) {
  CheckSomethingToUnpack(dir, what);
  std::string refused;
  for (const ZipMember &m : dir.Members)
    if (m.Refusal != NameAccepted) refused += "\n  " + m.ShownName() + ": " + RefusalText(m.Refusal);
  if (!refused.empty()) throw InputError(what + ": the stub would refuse to unpack these members:" + refused);
  for (const ZipMember &m : dir.Members) {
    if (m.IsFolder) continue;
    std::string name = m.ShownName();
    if (!MethodDecodable(DataMethod(m)))
      throw InputError(what + ": member " + name + " uses compression method " + std::to_string(DataMethod(m)) +
                       "; the stub unpacks only stored, deflated and LZMA members");
    if ((m.Flags() & FlagStrongEncryption) || m.CompressedSize < ProtectionOverhead(m))
      throw InputError(what + ": member " + name + " uses an encryption the stub does not know");
    MemberDataOffset(file, dir, m);
  }
}

std::vector<OffsetPatch> AdjustOffsets(ByteView archive, const ZipDirectory &dir, uint64_t add) {
  std::vector<OffsetPatch> patches;
  // A 32-bit field that would reach the marker needs a ZIP64 field the archive
  // lacks; one that holds the marker already leaves its value to the ZIP64 field.
  auto shift32 = [&](uint64_t at, bool zip64Holds) {
    uint32_t value = GetLE32(&archive[at]);
    if (value == Zip64Marker && zip64Holds) return;
    uint64_t moved = value + add;
    if (moved >= Zip64Marker && !zip64Holds)
      throw InputError("adjusted offsets would reach 4 GiB, and the archive has no ZIP64 field to hold them");
    patches.push_back({at, std::min<uint64_t>(moved, Zip64Marker), 4});
  };
  auto shift64 = [&](uint64_t at) { patches.push_back({at, GetLE64(&archive[at]) + add, 8}); };
  for (const ZipMember &m : dir.Members) {
    if (m.LocalOffsetWide) shift64(m.LocalOffsetAt);
    else shift32(m.LocalOffsetAt, false);
  }
  shift32(dir.EndAt + EndDirectoryOffset, dir.Zip64);
  if (dir.Zip64) {
    shift64(dir.Zip64EndAt + Zip64EndDirectoryOffset);
    shift64(dir.EndAt - Zip64LocatorSize + Zip64LocatorEndOffset);
  }
  return patches;
}
