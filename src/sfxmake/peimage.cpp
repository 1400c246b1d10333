// peimage.cpp -- where a Windows image ends in its file: the configuration block starts there.
#include "peimage.h"

#include "errors.h"
#include "sfxcore.h"

namespace {
enum : uint32_t {
  DosPeOffset = 0x3C,
  FileHeaderSize = 20,
  FileSectionCount = 2,
  FileOptionalSize = 16,
  OptionalSubsystem = 68,   // same offset in PE32 and PE32+
  SectionEntrySize = 40,
  SectionRawSize = 0x10,
  SectionRawPointer = 0x14,
};
}  // namespace

ImageInfo ReadImageInfo(const Bytes &f, const std::string &what) {
  auto fail = [&]() -> ImageInfo { throw InputError(what + " is not a Windows executable"); };
  if (f.size() < 0x40 || f[0] != 'M' || f[1] != 'Z') return fail();
  uint64_t pe = GetLE32(&f[DosPeOffset]);
  if (pe + 4 + FileHeaderSize > f.size() || f[pe] != 'P' || f[pe + 1] != 'E' || f[pe + 2] || f[pe + 3]) return fail();
  uint64_t header = pe + 4;
  ImageInfo info;
  info.Machine = GetLE16(&f[header]);
  uint16_t sections = GetLE16(&f[header + FileSectionCount]);
  uint16_t optional = GetLE16(&f[header + FileOptionalSize]);
  uint64_t table = header + FileHeaderSize + optional;
  if (table + (uint64_t)sections * SectionEntrySize > f.size()) return fail();
  if (optional >= OptionalSubsystem + 2) info.Subsystem = GetLE16(&f[header + FileHeaderSize + OptionalSubsystem]);
  for (uint16_t i = 0; i < sections; ++i) {
    const uint8_t *s = &f[table + (uint64_t)i * SectionEntrySize];
    uint64_t end = (uint64_t)GetLE32(s + SectionRawPointer) + GetLE32(s + SectionRawSize);
    if (end > info.End) info.End = end;
  }
  return info;
}
