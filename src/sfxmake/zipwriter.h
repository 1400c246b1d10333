// zipwriter.h -- writes a folder as a ZIP archive the stub can unpack: LZMA,
// deflate or stored, DOS and exact times, UTF-8 names, '/' separators, ZIP64
// when needed, optional AES or traditional encryption; file by file, in pieces.
#ifndef SFXKIT_SFXMAKE_ZIPWRITER_H
#define SFXKIT_SFXMAKE_ZIPWRITER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "files.h"

struct FolderArchiveOptions {
  uint16_t Method = 0;             // MethodLzma, MethodDeflated or MethodStored
  bool Solid = false;              // the files in one solid block (MethodSolid) instead
  std::string Password;            // UTF-8, ASCII only for the traditional scheme; empty: no encryption
  bool FixedEncryptionHeader = false;  // header bytes a keyed hash of the member instead of random
  uint8_t AesStrength = 3;         // AES-128, -192, -256 as 1, 2, 3; 0: the traditional scheme
  bool Reproducible = false;       // times in UTC, clamped to SourceDateEpoch when given
  std::optional<int64_t> SourceDateEpoch;  // given only with Reproducible
  unsigned Jobs = 0;               // workers compressing side by side; 0: as the machine affords
  bool Quiet = false;
  std::string Output;              // the program being built: left out should it lie in the folder
};

// A file to archive.
struct SourceFile {
  std::string Path;   // on this system, UTF-8
  std::string Name;   // relative, '/' separators, UTF-8
  uint64_t Size;      // as listed; a file that has another size when read is refused
};

// Writes the archive of `files` to `out`, members in their order, each
// compressed with options.Method when that makes it smaller, else stored; with
// options.Solid every file of 1 byte to below 4 GiB goes into one solid block,
// the others are stored. Recorded offsets count from the start of `out` (the
// finished program, which is then an ordinary ZIP file too); ZIP64 fields and
// records are written only where a size, offset or count needs them. Files are
// read in pieces: the memory taken does not grow with their size.
// InputError for a name that is not UTF-8, a file that cannot be read or that
// changes while it is read. Each member the core's LZMA encoder wrote is listed
// in `encoded`, when given, for the builder to decode it again.
struct EncodedMember {
  std::string Name;  // as stored
  uint32_t Crc;      // CRC-32 of the file's data
};
void WriteFolderArchive(const std::vector<SourceFile> &files, const FolderArchiveOptions &options, OutputFile &out,
                        std::vector<EncodedMember> *encoded = nullptr);

#endif
