// ziparchive.h -- reading a ZIP archive's directory with the stub's own reader,
// and the checks that keep sfxmake from producing a program the stub cannot unpack.
#ifndef SFXKIT_SFXMAKE_ZIPARCHIVE_H
#define SFXKIT_SFXMAKE_ZIPARCHIVE_H

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"
#include "zipformat.h"

// A member as the stub's reader describes it (the fixed part of its central
// record, the full-width sizes and offset, LocalHeaderOffset counting from the
// directory's Base), and what sfxmake adds.
struct ZipMember : MemberInfo {
  std::string RawName;         // name bytes as stored, up to a zero byte
  std::string UnicodePath;     // the UTF-8 name of a matching Unicode Path field, else empty
  uint64_t CentralAt = 0;      // absolute offset of its central record
  uint32_t CentralSize = 0;    // of that record: fixed part, name, extra field, comment
  uint64_t LocalOffsetAt = 0;  // absolute offset of the field holding LocalHeaderOffset
  bool LocalOffsetWide = false;  // that field is the ZIP64 field's 8 bytes, not the record's 4
  bool IsFolder = false;       // the stub takes it for a folder: not listed, not written
  NameRefusal Refusal = NameAccepted;  // the stub's verdict on the name
  uint16_t Flags() const { return Field16(*this, EntryFlags); }
  uint16_t Method() const { return Field16(*this, EntryMethod); }
  uint16_t DosTime() const { return Field16(*this, EntryDosTime); }
  uint16_t DosDate() const { return Field16(*this, EntryDosDate); }
  uint32_t Crc() const { return Field32(*this, EntryCrc32); }
  bool Encrypted() const { return Flags() & FlagEncrypted; }
  // The name as UTF-8 for showing and for extraction on this system.
  std::string DisplayName() const;
  // The same escaped for a line of output (Escaping::Plain): what listings and messages show.
  std::string ShownName() const;
  // The name as a path of the tree it unpacks to: '/' between the parts, none at
  // the end. What --include and --exclude match, and what counts folders.
  std::string TreePath() const;
};

struct ZipDirectory {
  uint64_t EndAt = 0;          // absolute offset of the end record
  uint64_t Zip64EndAt = 0;     // absolute offset of the ZIP64 end record; Zip64 only
  uint64_t Base = 0;           // what recorded offsets count from (end − directory offset − size)
  uint64_t DirectoryAt = 0;    // absolute offset of the central directory
  bool Zip64 = false;          // the fields come from a ZIP64 end record
  std::vector<ZipMember> Members;  // in directory order, folders included
};

// Reads the directory of the archive that begins at `start` as the stub does:
// the first end-record signature in the last 65558 bytes, a ZIP64 end record
// through the locator before it, the directory taken to end where the (ZIP64)
// end record begins, every record checked by the stub's rules.
// `what` names the input in messages. InputError when there is no archive or a
// record is damaged.
ZipDirectory ReadZipDirectory(ByteView file, uint64_t start, const std::string &what);

// Offset of a member's data behind its local header; InputError when the local
// header is missing or runs past the file.
uint64_t MemberDataOffset(ByteView file, const ZipDirectory &dir, const ZipMember &m);

// What the stub says of a refused name, for messages.
const char *RefusalText(NameRefusal refusal);

// Refuses (InputError) an archive in which the stub finds nothing to unpack: no
// members, or folders alone. Whatever takes a program apart applies it, as the
// builder does, so that no tool passes what another refuses.
void CheckSomethingToUnpack(const ZipDirectory &dir, const std::string &what);

// Refuses (InputError) what the stub cannot unpack safely: an empty archive,
// names the stub refuses (every one listed with its reason), methods it has no
// decoder for, and local headers that are not where the directory says.
void CheckArchiveForStub(ByteView file, const ZipDirectory &dir, const std::string &what);

// One recorded offset changed: the `Width` bytes (4 or 8) at `At` become `Value`.
struct OffsetPatch {
  uint64_t At;     // where the field lies in the archive
  uint64_t Value;  // what it is to hold
  uint8_t Width;   // its bytes
};

// What adds `add` to every recorded offset (local headers, central directory,
// ZIP64 end record) of the archive in `archive`, whose directory is `dir`.
// InputError when a 32-bit offset would reach 4 GiB and the archive has no
// ZIP64 field for it.
std::vector<OffsetPatch> AdjustOffsets(ByteView archive, const ZipDirectory &dir, uint64_t add);

#endif
