// zipwriter.h -- writes a folder as a ZIP archive the stub can unpack: deflate or
// stored, DOS and exact times, UTF-8 names, '/' separators, ZIP64 when needed,
// optional AES or traditional encryption.
#ifndef SFXKIT_SFXMAKE_ZIPWRITER_H
#define SFXKIT_SFXMAKE_ZIPWRITER_H

#include <cstdint>
#include <optional>
#include <string>

#include "files.h"

struct FolderArchiveOptions {
  std::string Password;            // ANSI bytes; empty: no encryption
  bool FixedEncryptionHeader = false;  // header bytes derived from the member instead of random
  uint8_t AesStrength = 3;         // AES-128, -192, -256 as 1, 2, 3; 0: the traditional scheme
  bool Reproducible = false;       // times in UTC, clamped to SourceDateEpoch when given
  std::optional<int64_t> SourceDateEpoch;  // given only with Reproducible
  bool Quiet = false;
  std::string Output;              // the program being built: left out should it lie in the folder
};

// Appends the archive of every file below `folder` to `out`, members in byte
// order of their names. Recorded offsets count from the start of `out` (the
// finished program, which is then an ordinary ZIP file too); ZIP64 fields and
// records are written only where a size, offset or count needs them.
// InputError for a folder without files, a name that is not UTF-8 or one that
// Windows cannot create.
void WriteFolderArchive(const std::string &folder, const FolderArchiveOptions &options, Bytes &out);

#endif
