// zipwriter.h -- writes a folder as a ZIP archive the stub can unpack: deflate or
// stored, DOS times, '/' separators, optional traditional encryption.
#ifndef SFXKIT_SFXMAKE_ZIPWRITER_H
#define SFXKIT_SFXMAKE_ZIPWRITER_H

#include <cstdint>
#include <string>

#include "files.h"

struct FolderArchiveOptions {
  std::string Password;            // ANSI bytes; empty: no encryption
  bool FixedEncryptionHeader = false;  // header bytes derived from the member instead of random
  bool Reproducible = false;       // times in UTC, clamped to SourceDateEpoch when given
  bool HasSourceDateEpoch = false;
  int64_t SourceDateEpoch = 0;
  bool Quiet = false;
};

// The archive of every file below `folder`, members in byte order of their names.
// Recorded offsets count from `base`: the archive's position in the finished
// program, which is then an ordinary ZIP file too. InputError for a folder
// without files, more than 65535 files, or an archive reaching 4 GiB.
Bytes WriteFolderArchive(const std::string &folder, const FolderArchiveOptions &options, uint64_t base);

#endif
