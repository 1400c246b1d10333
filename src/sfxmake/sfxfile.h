// sfxfile.h -- a finished self-extracting program taken apart: image, configuration, archive.
#ifndef SFXKIT_SFXMAKE_SFXFILE_H
#define SFXKIT_SFXMAKE_SFXFILE_H

#include <string>
#include <vector>

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

// The password options shared by build, test and extract (--password,
// --password-file) in UTF-8, at most 80 UTF-16 characters as the stub takes it;
// empty when none was given.
struct ParsedArgs;
std::string PasswordFromArgs(const ParsedArgs &args);
// The byte forms a reader tries, each once, the AES verifier or the traditional
// check byte deciding: UTF-8 (what sfxmake writes for AES, and the form writers
// agree on), then Windows-1252 and code page 437 (what tools on Western systems
// made of the same text), each only where it can hold the text. None for no password.
std::vector<std::string> PasswordForms(const std::string &utf8);

#endif
