// resources.cpp -- the resource section of a stub image: read as a flat list of
// resources, written back as a new tree (the sections behind it moved and every
// header field that depends on them fixed), and Windows' checksum of a whole file.
#include "resources.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <set>

#include "errors.h"
#include "sfxfile.h"
#include "zipformat.h"

namespace {

// The resource tree's records.
enum : uint32_t {
  DirEntryCountNamed = 12,  // 16-bit
  DirEntryCountIds = 14,    // 16-bit
  DirHeaderSize = 16,
  DirEntrySize = 8,         // name or id, then offset of the child
  DataEntrySize = 16,       // RVA, size, code page, reserved
  HighBit = 0x80000000u,    // a named entry / a subdirectory
  MaxDepth = 3,             // type, name, language
  MaxFileAlign = 0x10000,   // the largest file alignment a loader takes
};
static_assert(DirHeaderSize == DirEntryCountIds + 2, "directory header is 16 bytes");

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// The headers of an image, found once: where the optional header, its data
// directories and the section table sit.
struct Headers {
  uint32_t Optional = 0;   // file offset of the optional header
  uint32_t Dirs = 0;       // file offset of data directory 0
  uint32_t DirCount = 0;
  uint32_t Table = 0;      // file offset of the section table
  uint16_t Sections = 0;
};

uint32_t SectionField(const Bytes &f, const Headers &h, uint16_t section, uint32_t field) {
  return GetLE32(&f[h.Table + section * PeSectionEntrySize + field]);
}

// Every section's raw data lies in the file behind the headers, and its
// addresses lie behind the headers' own, inside the image, in ascending order
// without overlap: from here on the reader and the writer may take any section's
// fields at their word. InputError, naming `what`, otherwise.
void CheckSections(const Bytes &f, const Headers &h, const std::string &what) {
  auto bad = [&](uint16_t s, const char *why) {
    throw InputError(what + ": damaged section table (section " + std::to_string(s + 1) + " " + why + ")");
  };
  uint64_t headersSize = GetLE32(&f[h.Optional + PeOptionalHeadersSize]);
  uint64_t imageSize = GetLE32(&f[h.Optional + PeOptionalImageSize]);
  if (headersSize < h.Table + (uint64_t)h.Sections * PeSectionEntrySize || headersSize > f.size())
    throw InputError(what + ": damaged headers (their size does not cover the section table)");
  uint64_t previousEnd = headersSize;  // the address behind the previous section
  for (uint16_t s = 0; s < h.Sections; s++) {
    uint64_t pointer = SectionField(f, h, s, PeSectionRawPointer), raw = SectionField(f, h, s, PeSectionRawSize);
    uint64_t va = SectionField(f, h, s, PeSectionVirtualAddress), size = SectionField(f, h, s, PeSectionVirtualSize);
    if (raw && (pointer < headersSize || pointer + raw > f.size())) bad(s, "has its data outside the file or in the headers");
    if (va < previousEnd) bad(s, "overlaps the headers or the section before it");
    previousEnd = va + (size ? size : raw);
    if (previousEnd > imageSize) bad(s, "reaches past the image's size");
  }
}

Headers ReadHeaders(const Bytes &f, const std::string &what) {
  ImageLayout layout = ReadImage(f, what);
  Headers h;
  h.Optional = layout.FileHeader + PeFileHeaderSize;
  uint16_t optionalSize = GetLE16(&f[layout.FileHeader + PeFileOptionalSize]);
  h.Table = h.Optional + optionalSize;
  h.Sections = GetLE16(&f[layout.FileHeader + PeFileSectionCount]);
  if (optionalSize < 2) throw InputError(what + " has no optional header");
  uint16_t magic = GetLE16(&f[h.Optional + PeOptionalMagic]);
  bool wide = magic == PeMagic64;
  if (!wide && magic != PeMagic32) throw InputError(what + " has an optional header of an unknown kind");
  uint32_t countAt = wide ? PeOptionalDirCount64 : PeOptionalDirCount32;
  h.Dirs = h.Optional + (wide ? PeOptionalDirs64 : PeOptionalDirs32);
  if (optionalSize < countAt + 4) throw InputError(what + " has a truncated optional header");
  h.DirCount = std::min<uint32_t>(GetLE32(&f[h.Optional + countAt]), (optionalSize - (countAt + 4)) / PeDirEntrySize);
  CheckSections(f, h, what);
  return h;
}

uint32_t DirRva(const Bytes &f, const Headers &h, uint32_t index) {
  return index < h.DirCount ? GetLE32(&f[h.Dirs + index * PeDirEntrySize]) : 0;
}

// The file offset of `count` bytes at `rva`, or false when they are not all in
// some section's raw data.
bool RvaToOffset(const Bytes &f, const Headers &h, uint32_t rva, uint32_t count, uint64_t *offset) {
  for (uint16_t s = 0; s < h.Sections; s++) {
    uint64_t va = SectionField(f, h, s, PeSectionVirtualAddress), raw = SectionField(f, h, s, PeSectionRawSize);
    uint64_t pointer = SectionField(f, h, s, PeSectionRawPointer);
    if (rva < va || (uint64_t)rva + count > va + raw) continue;
    *offset = pointer + (rva - va);
    return *offset + count <= f.size();
  }
  return false;
}

// The tree as the loader wants it: every level sorted, named entries first.
using LanguageLevel = std::map<uint16_t, const Resource *>;
using NameLevel = std::map<ResourceKey, LanguageLevel>;
using TypeLevel = std::map<ResourceKey, NameLevel>;

// Writes the tree for a section at `rva`: all directories (breadth first), the
// data entries, the names, then the data, each 8-byte aligned.
Bytes WriteTree(const Resources &resources, uint32_t rva) {
  TypeLevel tree;
  for (const Resource &r : resources) {
    const Resource *&slot = tree[r.Type][r.Name][r.Language];
    if (slot) throw InputError("two resources with the same type, name and language");
    slot = &r;
  }
  size_t entries = tree.size() + resources.size();
  for (const auto &type : tree) entries += type.second.size();
  if (entries > MaxResourceEntries)
    throw InputError("the resources need " + std::to_string(entries) + " entries; a program carries at most " +
                     std::to_string(MaxResourceEntries));
  auto dirSize = [](size_t entries) { return (uint32_t)(DirHeaderSize + entries * DirEntrySize); };
  uint32_t dirsEnd = dirSize(tree.size());
  for (const auto &type : tree) dirsEnd += dirSize(type.second.size());
  for (const auto &type : tree)
    for (const auto &name : type.second) dirsEnd += dirSize(name.second.size());
  uint32_t namesAt = dirsEnd + (uint32_t)resources.size() * DataEntrySize;
  uint32_t namesEnd = namesAt;
  for (const auto &type : tree) {
    namesEnd += type.first.Text.empty() ? 0 : 2 + 2 * (uint32_t)type.first.Text.size();
    for (const auto &name : type.second) namesEnd += name.first.Text.empty() ? 0 : 2 + 2 * (uint32_t)name.first.Text.size();
  }

  Bytes out(AlignUp(namesEnd, 8));
  uint32_t nextDir = dirSize(tree.size()), nextEntry = dirsEnd, nextName = namesAt;
  auto putKey = [&](uint8_t *entry, const ResourceKey &key) {
    if (key.Text.empty()) return PutLE32(entry, key.Id);
    PutLE32(entry, HighBit | nextName);
    PutLE16(&out[nextName], (uint16_t)key.Text.size());
    for (size_t i = 0; i < key.Text.size(); i++) PutLE16(&out[nextName + 2 + 2 * i], key.Text[i]);
    nextName += 2 + 2 * (uint32_t)key.Text.size();
  };
  auto putHeader = [&](uint32_t at, size_t named, size_t ids) {
    PutLE16(&out[at + DirEntryCountNamed], (uint16_t)named);
    PutLE16(&out[at + DirEntryCountIds], (uint16_t)ids);
  };
  // The directory at `at` of a type or name level; each entry's child directory
  // gets the next free place, noted in `children` for the level below.
  auto putLevel = [&](uint32_t at, const auto &level, auto &children) {
    size_t named = 0;
    for (const auto &e : level) named += !e.first.Text.empty();
    putHeader(at, named, level.size() - named);
    uint32_t j = 0;
    for (const auto &e : level) {
      uint8_t *entry = &out[at + DirHeaderSize + j++ * DirEntrySize];
      putKey(entry, e.first);
      PutLE32(entry + 4, HighBit | nextDir);
      children.push_back({nextDir, &e.second});
      nextDir += dirSize(e.second.size());
    }
  };

  // Level 1 (types) sits at 0; its children's directories follow in order, then
  // those of level 2, so the offsets are handed out level by level.
  std::vector<std::pair<uint32_t, const NameLevel *>> typeDirs;
  putLevel(0, tree, typeDirs);
  std::vector<std::pair<uint32_t, const LanguageLevel *>> nameDirs;
  for (const auto &dir : typeDirs) putLevel(dir.first, *dir.second, nameDirs);
  for (const auto &dir : nameDirs) {
    putHeader(dir.first, 0, dir.second->size());
    uint32_t j = 0;
    for (const auto &language : *dir.second) {
      uint8_t *entry = &out[dir.first + DirHeaderSize + j++ * DirEntrySize];
      PutLE32(entry, language.first);
      PutLE32(entry + 4, nextEntry);
      const Resource &r = *language.second;
      size_t dataAt = out.size();
      out.insert(out.end(), r.Data.begin(), r.Data.end());
      out.resize(AlignUp(out.size(), 8));
      PutLE32(&out[nextEntry], rva + (uint32_t)dataAt);
      PutLE32(&out[nextEntry + 4], (uint32_t)r.Data.size());
      PutLE32(&out[nextEntry + 8], r.CodePage);
      nextEntry += DataEntrySize;
    }
  }
  return out;
}

}  // namespace

bool ResourceKey::operator<(const ResourceKey &o) const {
  if (Text.empty() != o.Text.empty()) return !Text.empty();
  return Text.empty() ? Id < o.Id : Text < o.Text;
}

Resources ReadResources(const Bytes &f, const std::string &what) {
  Headers h = ReadHeaders(f, what);
  uint32_t rva = DirRva(f, h, PeDirResource);
  if (!rva) return {};
  auto damaged = [&](const std::string &why) { throw InputError(what + ": damaged resources (" + why + ")"); };
  uint64_t root = 0;
  if (!RvaToOffset(f, h, rva, DirHeaderSize, &root)) damaged("the directory lies outside the image");
  // Offsets in the tree count from its root and may reach the end of its section.
  uint64_t end = root;
  for (uint16_t s = 0; s < h.Sections; s++) {
    uint64_t pointer = SectionField(f, h, s, PeSectionRawPointer), raw = SectionField(f, h, s, PeSectionRawSize);
    if (root >= pointer && root < pointer + raw) end = std::min<uint64_t>(pointer + raw, f.size());
  }
  uint64_t readable = end - root;
  auto at = [&](uint64_t offset, uint64_t count) {
    if (offset > readable || count > readable - offset) damaged("a record lies outside the section");
    return f.data() + root + offset;
  };
  auto key = [&](uint32_t field) {
    if (!(field & HighBit)) return ResourceKey::Number((uint16_t)field);
    uint32_t offset = field & ~HighBit;
    uint16_t length = GetLE16(at(offset, 2));
    if (length > MaxResourceName) damaged("a name longer than " + std::to_string(MaxResourceName) + " characters");
    const uint8_t *chars = at(offset + 2, 2ull * length);
    std::u16string text;
    for (uint16_t i = 0; i < length; i++) text += (char16_t)GetLE16(chars + 2 * i);
    if (text.empty()) damaged("an empty name");
    return ResourceKey::Named(text);
  };

  // The tree below the root, one resource for every language entry. A hostile
  // tree may share its records to make a small file stand for a huge tree: every
  // directory and data entry is taken once, the entries are counted, and the data
  // copied can never exceed the file.
  Resources out;
  Resource path;
  std::set<uint64_t> reached;  // offsets of the directories and data entries taken so far
  uint32_t entryCount = 0;
  uint64_t dataBytes = 0;
  auto reach = [&](uint64_t offset) {
    if (!reached.insert(offset).second) damaged("a record is reached twice");
  };
  auto walk = [&](auto &self, uint32_t offset, int depth) -> void {
    reach(offset);
    const uint8_t *dir = at(offset, DirHeaderSize);
    uint32_t count = (uint32_t)GetLE16(dir + DirEntryCountNamed) + GetLE16(dir + DirEntryCountIds);
    if ((entryCount += count) > MaxResourceEntries) damaged("more than " + std::to_string(MaxResourceEntries) + " entries");
    const uint8_t *entries = at(offset + DirHeaderSize, (uint64_t)count * DirEntrySize);
    for (uint32_t i = 0; i < count; i++) {
      uint32_t name = GetLE32(entries + i * DirEntrySize), child = GetLE32(entries + i * DirEntrySize + 4);
      if (depth == 0) path.Type = key(name);
      if (depth == 1) path.Name = key(name);
      if (depth == 2) path.Language = (uint16_t)name;
      bool isDir = (child & HighBit) != 0;
      if (isDir != (depth < (int)MaxDepth - 1)) damaged("the tree is not three levels deep");
      if (isDir) {
        self(self, child & ~HighBit, depth + 1);
        continue;
      }
      reach(child);
      const uint8_t *data = at(child, DataEntrySize);
      uint32_t dataRva = GetLE32(data), size = GetLE32(data + 4);
      uint64_t dataAt = 0;
      if (!RvaToOffset(f, h, dataRva, size, &dataAt)) damaged("a resource's data lies outside the image");
      if ((dataBytes += size) > f.size()) damaged("the resources share their data");
      path.CodePage = GetLE32(data + 8);
      path.Data.assign(f.begin() + dataAt, f.begin() + dataAt + size);
      out.push_back(path);
    }
  };
  walk(walk, 0, 0);
  return out;
}

Bytes ReplaceResources(const Bytes &image, const Resources &resources) {
  const std::string what = "the stub";
  Headers h = ReadHeaders(image, what);
  auto refuse = [&](const std::string &why) { throw InputError("cannot put resources into " + what + ": " + why); };
  if (DirRva(image, h, PeDirSecurity)) refuse("it is signed");
  uint32_t rva = DirRva(image, h, PeDirResource), relocRva = DirRva(image, h, PeDirBaseReloc);

  // The sections in address order; the resource section must be one of them,
  // and only the relocations may follow it.
  std::vector<uint16_t> order(h.Sections);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](uint16_t a, uint16_t b) {
    return SectionField(image, h, a, PeSectionVirtualAddress) < SectionField(image, h, b, PeSectionVirtualAddress);
  });
  size_t at = 0;
  while (at < order.size() && SectionField(image, h, order[at], PeSectionVirtualAddress) != rva) at++;
  if (!rva || at == order.size()) refuse("its resources do not start a section of their own");
  for (size_t k = at + 1; k < order.size(); k++)
    if (SectionField(image, h, order[k], PeSectionVirtualAddress) != relocRva) refuse("a section other than the relocations follows its resources");
  for (uint32_t d = 0; d < h.DirCount; d++)
    if (d != PeDirResource && d != PeDirBaseReloc && d != PeDirSecurity && DirRva(image, h, d) >= rva)
      refuse("a data directory points behind its resources");
  uint32_t previousEnd = at + 1 < order.size() ? SectionField(image, h, order[at + 1], PeSectionRawPointer) : 0;
  for (size_t k = at; k < order.size(); k++) {
    uint32_t pointer = SectionField(image, h, order[k], PeSectionRawPointer);
    if (k > at && pointer != previousEnd) refuse("its last sections are not stored in address order");
    previousEnd = pointer + SectionField(image, h, order[k], PeSectionRawSize);
  }
  if (previousEnd != image.size()) refuse("it carries data behind its last section");
  // The file is cut at the resources: a section before them in address order
  // must keep its data before them in the file too.
  uint32_t rsrcStart = SectionField(image, h, order[at], PeSectionRawPointer);
  for (size_t k = 0; k < at; k++) {
    uint64_t raw = SectionField(image, h, order[k], PeSectionRawSize);
    if (raw && SectionField(image, h, order[k], PeSectionRawPointer) + raw > rsrcStart)
      refuse("a section before its resources is stored behind them");
  }

  uint32_t fileAlign = GetLE32(&image[h.Optional + PeOptionalFileAlign]);
  uint32_t sectionAlign = GetLE32(&image[h.Optional + PeOptionalSectionAlign]);
  auto powerOfTwo = [](uint32_t n) { return n && !(n & (n - 1)); };
  if (!powerOfTwo(fileAlign) || fileAlign > MaxFileAlign || !powerOfTwo(sectionAlign) || sectionAlign < fileAlign)
    refuse("its alignments are not those of a Windows image");
  uint16_t rsrc = order[at];
  uint32_t rsrcPointer = SectionField(image, h, rsrc, PeSectionRawPointer);
  uint32_t oldRaw = SectionField(image, h, rsrc, PeSectionRawSize);
  // Only a section with data is known to lie behind the headers (CheckSections).
  if (!oldRaw) refuse("its resource section holds no data");
  Bytes tree = WriteTree(resources, rva);
  uint32_t treeSize = (uint32_t)tree.size();
  tree.resize(AlignUp(treeSize, fileAlign));

  Bytes out(image.begin(), image.begin() + rsrcPointer);
  out.insert(out.end(), tree.begin(), tree.end());
  auto setSection = [&](uint16_t s, uint32_t field, uint32_t value) { PutLE32(&out[h.Table + s * PeSectionEntrySize + field], value); };
  setSection(rsrc, PeSectionVirtualSize, treeSize);
  setSection(rsrc, PeSectionRawSize, (uint32_t)tree.size());
  uint64_t nextVa = AlignUp((uint64_t)rva + treeSize, sectionAlign), imageEnd = nextVa;
  for (size_t k = at + 1; k < order.size(); k++) {
    uint16_t s = order[k];
    uint32_t pointer = SectionField(image, h, s, PeSectionRawPointer), raw = SectionField(image, h, s, PeSectionRawSize);
    uint32_t virtualSize = SectionField(image, h, s, PeSectionVirtualSize);
    setSection(s, PeSectionVirtualAddress, (uint32_t)nextVa);
    setSection(s, PeSectionRawPointer, (uint32_t)out.size());
    PutLE32(&out[h.Dirs + PeDirBaseReloc * PeDirEntrySize], (uint32_t)nextVa);
    out.insert(out.end(), image.begin() + pointer, image.begin() + pointer + raw);
    nextVa = imageEnd = AlignUp(nextVa + (virtualSize ? virtualSize : raw), sectionAlign);
  }
  // Moved up, the sections behind must still have 32-bit addresses and offsets.
  if (nextVa > UINT32_MAX || out.size() > UINT32_MAX) refuse("its resources would not fit into it");
  PutLE32(&out[h.Dirs + PeDirResource * PeDirEntrySize + 4], treeSize);
  PutLE32(&out[h.Optional + PeOptionalImageSize], (uint32_t)imageEnd);
  if (SectionField(image, h, rsrc, PeSectionCharacteristics) & PeSectionInitializedData) {
    uint32_t initialized = GetLE32(&out[h.Optional + PeOptionalInitializedSize]);
    PutLE32(&out[h.Optional + PeOptionalInitializedSize], initialized - oldRaw + (uint32_t)tree.size());
  }
  return out;
}

namespace {
// Windows' checksum of a file of `size` bytes with the checksum field at
// `field`, its bytes read in pieces by read(at, buffer, count).
template <class Read>
uint32_t PeChecksum(uint64_t size, uint64_t field, Read read) {
  uint64_t sum = 0;
  Bytes piece((size_t)std::min<uint64_t>(size + 1, (size_t)1 << 20) & ~(size_t)1);  // even: pieces start on a word
  for (uint64_t at = 0; at < size; at += piece.size()) {
    size_t n = (size_t)std::min<uint64_t>(piece.size(), size - at);
    read(at, piece.data(), n);
    if (n & 1) piece[n++] = 0;
    for (uint64_t i = std::max(field, at); i < field + 4 && i < at + n; i++) piece[i - at] = 0;
    for (size_t i = 0; i < n; i += 2) {
      sum += piece[i] | (uint32_t)piece[i + 1] << 8;
      sum = (sum & 0xFFFF) + (sum >> 16);
    }
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return (uint32_t)sum + (uint32_t)size;
}

// Where the image at the start of `head` keeps its checksum; false for no image.
bool ChecksumField(const Bytes &head, uint64_t *field) {
  ImageLayout layout;
  if (!ReadImageLayout(head.data(), head.size(), &layout)) return false;
  *field = (uint64_t)layout.FileHeader + PeFileHeaderSize + PeOptionalChecksum;
  return true;
}
}  // namespace

void StampPeChecksum(Bytes &f) {
  uint64_t field;
  if (!ChecksumField(f, &field)) return;
  uint32_t sum = PeChecksum(f.size(), field, [&](uint64_t at, uint8_t *to, size_t n) { std::copy_n(&f[at], n, to); });
  PutLE32(&f[field], sum);
}

void StampPeChecksum(OutputFile &file, const Bytes &head) {
  uint64_t field;
  if (!ChecksumField(head, &field)) return;
  uint8_t stamp[4];
  PutLE32(stamp, PeChecksum(file.Position(), field, [&](uint64_t at, uint8_t *to, size_t n) { file.ReadAt(at, to, n); }));
  file.WriteAt(field, stamp, sizeof stamp);
}
