// zipcopy.cpp -- how a ZIP input goes into the program: copied in pieces, its
// offsets adjusted as asked, the members --include and --exclude leave out dropped.
#include "zipcopy.h"

#include <algorithm>
#include <set>

#include "errors.h"

namespace {

// The members that go in, as indexes in directory order: those the filter
// keeps, and the folder entries above them (an excluded folder has none).
std::vector<size_t> KeptMembers(const ZipDirectory &dir, const MemberFilter &filter) {
  std::set<std::string> above;  // folders leading to a kept member
  std::vector<bool> keep(dir.Members.size());
  for (size_t i = 0; i < dir.Members.size(); i++) {
    std::string path = dir.Members[i].TreePath();
    keep[i] = filter.Keeps(path, dir.Members[i].IsFolder);
    for (size_t slash = path.find('/'); keep[i] && slash != std::string::npos; slash = path.find('/', slash + 1))
      above.insert(path.substr(0, slash));
  }
  std::vector<size_t> kept;
  for (size_t i = 0; i < dir.Members.size(); i++)
    if (keep[i] || (dir.Members[i].IsFolder && above.count(dir.Members[i].TreePath())))
      kept.push_back(i);
  return kept;
}

// Writes `value` into the `width`-byte field at `at` of `bytes`; a 4-byte field
// takes the ZIP64 marker when the value needs the ZIP64 field, which `wide` says
// the archive has for it. InputError when it has none.
void PutField(uint8_t *at, uint64_t value, unsigned width, bool wide) {
  if (width == 8) return PutLE64(at, value);
  if (width == 2) return PutLE16(at, (uint16_t)std::min<uint64_t>(value, 0xFFFF));
  if (value >= Zip64Marker && !wide)
    throw InputError("adjusted offsets would reach 4 GiB, and the archive has no ZIP64 field to hold them");
  PutLE32(at, (uint32_t)std::min<uint64_t>(value, Zip64Marker));
}

}  // namespace

ZipCopyPlan PlanZipCopy(ByteView archive, const ZipDirectory &dir, const MemberFilter &filter, uint64_t add,
                        const std::string &what) {
  ZipCopyPlan plan;
  std::vector<size_t> kept = KeptMembers(dir, filter);
  if (kept.size() == dir.Members.size()) {
    plan.Pieces.push_back({0, archive.size()});
    if (add) plan.Patches = AdjustOffsets(archive, dir, add);
    return plan;
  }
  if (kept.empty()) throw InputError(what + " holds no members that --include and --exclude let in");

  // Each member's bytes reach up to the next member's local header, or the directory.
  std::vector<uint64_t> starts;
  for (const ZipMember &m : dir.Members) starts.push_back(dir.Base + m.LocalHeaderOffset);
  std::sort(starts.begin(), starts.end());
  std::vector<size_t> byPlace = kept;
  std::sort(byPlace.begin(), byPlace.end(), [&](size_t a, size_t b) {
    return dir.Members[a].LocalHeaderOffset < dir.Members[b].LocalHeaderOffset;
  });
  std::vector<uint64_t> placed(dir.Members.size());
  uint64_t written = 0;
  for (size_t i : byPlace) {
    uint64_t at = dir.Base + dir.Members[i].LocalHeaderOffset;
    auto next = std::upper_bound(starts.begin(), starts.end(), at);
    uint64_t end = next == starts.end() ? dir.DirectoryAt : *next;
    plan.Pieces.push_back({at, end - at});
    placed[i] = written;
    written += end - at;
  }

  // The kept central records in their order, each pointing at its local header's new place.
  Bytes &tail = plan.Tail;
  for (size_t i : kept) {
    const ZipMember &m = dir.Members[i];
    size_t record = tail.size();
    tail.insert(tail.end(), archive.begin() + m.CentralAt, archive.begin() + m.CentralAt + m.CentralSize);
    PutField(&tail[record + (m.LocalOffsetAt - m.CentralAt)], placed[i] + add, m.LocalOffsetWide ? 8 : 4, false);
  }
  uint64_t directoryAt = written + add, directorySize = tail.size(), entries = kept.size();
  // The end records as they were, with the new counts and places.
  uint32_t comment = GetLE16(&archive[dir.EndAt + EndCommentLength]);
  uint64_t endSize = std::min<uint64_t>(EndRecordSize + comment, archive.size() - dir.EndAt);
  size_t zip64 = tail.size();
  if (dir.Zip64) {
    tail.insert(tail.end(), archive.begin() + dir.Zip64EndAt, archive.begin() + dir.EndAt);
    uint8_t *z = &tail[zip64];
    PutLE64(z + Zip64EndDiskEntries, entries);
    PutLE64(z + Zip64EndTotalEntries, entries);
    PutLE64(z + Zip64EndDirectorySize, directorySize);
    PutLE64(z + Zip64EndDirectoryOffset, directoryAt);
    PutLE64(&tail[tail.size() - Zip64LocatorSize + Zip64LocatorEndOffset], written + zip64 + add);
  }
  if (entries >= 0xFFFF && !dir.Zip64) throw InputError(what + ": too many members for an archive without ZIP64 records");
  size_t end = tail.size();
  tail.insert(tail.end(), archive.begin() + dir.EndAt, archive.begin() + dir.EndAt + endSize);
  PutField(&tail[end + EndDiskEntries], entries, 2, dir.Zip64);
  PutField(&tail[end + EndTotalEntries], entries, 2, dir.Zip64);
  PutField(&tail[end + EndDirectorySize], directorySize, 4, dir.Zip64);
  PutField(&tail[end + EndDirectoryOffset], directoryAt, 4, dir.Zip64);
  return plan;
}
