// sfxfile.h -- a finished self-extracting program taken apart: image, configuration, archive.
#ifndef SFXKIT_SFXMAKE_SFXFILE_H
#define SFXKIT_SFXMAKE_SFXFILE_H

#include <string>

#include "config.h"
#include "files.h"
#include "ziparchive.h"

struct SfxFile {
  std::string Path;        // as given
  Bytes Data;              // the whole file
  ImageLayout Image;       // where the stub's image ends, its machine
  SfxConfig Config;        // the block behind the image
  uint64_t ArchiveStart;   // first byte behind the block's trailer
  ZipDirectory Directory;  // found as the stub finds it
};

// The layout of the Windows image at the start of `file`; InputError (naming
// `what`) when it is none.
ImageLayout ReadImage(const Bytes &file, const std::string &what);

// Reads and takes apart `path`; InputError when it is no such program.
SfxFile OpenSfx(const std::string &path);
// Takes apart a program already in memory; `path` names it in messages.
SfxFile TakeApartSfx(Bytes data, const std::string &path);

// The password options shared by test and extract (--password, --password-file),
// as the ANSI bytes the stub would compare; empty when none was given.
struct ParsedArgs;
std::string PasswordFromArgs(const ParsedArgs &args);

#endif
