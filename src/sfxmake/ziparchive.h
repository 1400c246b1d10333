// ziparchive.h -- reading a ZIP archive's directory with the stub's own reader,
// and the checks that keep sfxmake from producing a program the stub cannot unpack.
#ifndef SFXKIT_SFXMAKE_ZIPARCHIVE_H
#define SFXKIT_SFXMAKE_ZIPARCHIVE_H

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"
#include "zipformat.h"

enum : uint32_t {
  Zip64LocatorSignature = 0x07064B50,
  Zip64LocatorSize = 20,
  MaxMembers = 65535,
};

struct ZipMember {
  uint64_t CentralAt = 0;      // absolute offset of its central directory record
  std::string RawName;         // name bytes as stored, up to a zero byte
  std::string UnicodePath;     // the UTF-8 name of a matching Unicode Path field, else empty
  uint16_t VersionMadeBy = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint16_t DosTime = 0;
  uint16_t DosDate = 0;
  uint32_t Crc = 0;
  uint32_t Compressed = 0;
  uint32_t Uncompressed = 0;
  uint32_t LocalOffset = 0;    // relative to the directory's Base
  uint64_t ModifiedUtc = 0;    // exact time from the extra field (FILETIME ticks), 0: none
  bool IsFolder = false;       // the stub takes it for a folder: not listed, not written
  bool Zip64Extra = false;     // carries a ZIP64 extended-information field
  NameRefusal Refusal = NameAccepted;  // the stub's verdict on the name
  bool Encrypted() const { return Flags & FlagEncrypted; }
  // The name as UTF-8 for showing and for extraction on this system.
  std::string DisplayName() const;
};

struct ZipDirectory {
  uint64_t EndAt = 0;          // absolute offset of the end record
  uint64_t Base = 0;           // what recorded offsets count from (end − directory offset − size)
  uint32_t DirectorySize = 0;
  uint32_t DirectoryOffset = 0;
  uint16_t Entries = 0;
  bool Zip64 = false;          // a ZIP64 locator or saturated end-record fields
  std::vector<ZipMember> Members;  // in directory order, folders included
};

// Reads the directory of the archive that begins at `start` as the stub does:
// the first end-record signature in the last 65558 bytes, the directory taken to
// end where the end record begins, every record checked by the stub's rules.
// `what` names the input in messages. InputError when there is no archive or a
// record is damaged.
ZipDirectory ReadZipDirectory(const Bytes &file, uint64_t start, const std::string &what);

// Offset of a member's data behind its local header; InputError when the local
// header is missing or runs past the file.
uint64_t MemberDataOffset(const Bytes &file, const ZipDirectory &dir, const ZipMember &m);

// What the stub says of a refused name, for messages.
const char *RefusalText(NameRefusal refusal);

// Refuses (InputError) what the stub cannot unpack safely: ZIP64, more than 65535
// members, an empty archive, names the stub refuses (every one listed with its
// reason), methods other than stored and deflate, and local headers that are not
// where the directory says. With `warn`, tells on stderr of names the ANSI code
// page cannot show.
void CheckArchiveForStub(const Bytes &file, const ZipDirectory &dir, const std::string &what, bool warn);

// Adds `add` to every recorded offset (local headers, central directory) of the
// archive in `archive`, whose directory is `dir`. InputError when one would pass 4 GiB.
void AdjustOffsets(Bytes &archive, const ZipDirectory &dir, uint64_t add);

#endif
