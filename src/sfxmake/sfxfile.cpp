// sfxfile.cpp -- a finished self-extracting program taken apart: image, configuration, archive.
#include "sfxfile.h"

#include "cli.h"
#include "errors.h"
#include "platform.h"

ImageLayout ReadImage(const Bytes &file, const std::string &what) {
  ImageLayout layout;
  if (!ReadImageLayout(file.data(), file.size(), &layout)) throw InputError(what + " is not a Windows executable");
  return layout;
}

SfxFile OpenSfx(const std::string &path) { return TakeApartSfx(ReadWholeFile(path), path); }

SfxFile TakeApartSfx(Bytes data, const std::string &path) {
  SfxFile s;
  s.Path = path;
  s.Data = std::move(data);
  s.Image = ReadImage(s.Data, path);
  s.Config = DecodeConfig(s.Data, s.Image.End, &s.ArchiveStart);
  s.Directory = ReadZipDirectory(s.Data, s.ArchiveStart, path);
  return s;
}

std::string PasswordFromArgs(const ParsedArgs &a) {
  const char *TooLong = "the password is longer than 80 characters, the most the stub accepts";
  std::string utf8;
  if (a.Has("password-file")) {
    // Enough for the longest password in UTF-8 and one byte more: a first
    // line that long is refused below without reading the rest of the file.
    const size_t limit = 4 * MaxPasswordLength + 1;
    Bytes content = ReadFileStart(a.Get("password-file"), limit);
    utf8.assign(content.begin(), content.end());
    size_t lineEnd = utf8.find_first_of("\r\n");
    if (lineEnd == std::string::npos && utf8.size() == limit) throw InputError(TooLong);
    utf8 = utf8.substr(0, lineEnd);
    if (utf8.empty()) throw InputError(a.Get("password-file") + ": the first line holds no password");
  } else if (a.Has("password")) {
    utf8 = a.Get("password");
    if (utf8.empty()) throw InputError("--password is empty");
  }
  bool lossless = true;
  std::string ansi = Utf8ToAnsi(utf8, &lossless);
  if (!lossless) throw InputError("the password has characters the ANSI code page cannot hold; the stub could not take it");
  if (ansi.size() > MaxPasswordLength) throw InputError(TooLong);
  return ansi;
}
