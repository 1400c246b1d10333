// sfxfile.cpp -- a finished self-extracting program taken apart: image, configuration, archive.
#include "sfxfile.h"

#include <algorithm>

#include "cli.h"
#include "codepages.h"
#include "errors.h"
#include "platform.h"
#include "utf8.h"

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
  RequireUtf8(utf8, a.Has("password-file") ? "password-file" : "password");
  size_t units = 0;  // UTF-16 characters, as the stub counts them
  uint32_t c;
  for (size_t at = 0; NextCodePoint(utf8, &at, &c);) units += c >= 0x10000 ? 2 : 1;
  if (units > MaxPasswordLength) throw InputError(TooLong);
  return utf8;
}

std::vector<std::string> PasswordForms(const std::string &utf8) {
  if (utf8.empty()) return {};
  std::vector<std::string> forms{utf8};
  std::string form;
  for (CodePage page : {CodePage::Windows1252, CodePage::Dos437})
    if (EncodeCodePage(utf8, page, &form) && std::find(forms.begin(), forms.end(), form) == forms.end())
      forms.push_back(form);
  return forms;
}
