// info.cpp -- `sfxmake info`: the configuration and the member list of a finished program.
#include <cinttypes>
#include <cstdio>
#include <iostream>

#include "cli.h"
#include "commands.h"
#include "errors.h"
#include "sfxfile.h"

namespace {

const char InfoUsage[] =
    "usage: sfxmake info FILE.exe\n"
    "\n"
    "Shows the configuration of a self-extracting program (every field, options by\n"
    "name, texts quoted) and its members: size, packed size, method, encryption, date, name.\n"
    "\n"
    "  -h, --help   this text\n";

std::string DosStamp(uint16_t date, uint16_t time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return text;
}

const char *MethodName(uint16_t method) {
  return method == MethodStored ? "stored" : method == MethodDeflated ? "deflate" : "other";
}

}  // namespace

int InfoCommand(const Args &args) {
  ParsedArgs a = ParseArgs(args, {{"help", 'h', false}});
  if (a.Has("help")) {
    std::cout << InfoUsage;
    return ExitOk;
  }
  if (a.Operands.size() != 1) throw InputError("info takes exactly one FILE.exe (see sfxmake info --help)");
  SfxFile s = OpenSfx(a.Operands[0]);
  const SfxConfig &c = s.Config;
  char options[16];
  std::snprintf(options, sizeof options, "0x%04X", c.Options);
  const char *bits = s.Image.Machine == 0x8664 ? "64-bit" : "32-bit";
  std::cout << "stub:           " << bits << ", image of " << s.Image.End << " bytes\n"
            << "title:          " << QuoteText(c.Title) << "\n"
            << "folder:         " << QuoteText(c.Folder) << "\n"
            << "run:            " << QuoteText(c.Run) << "\n"
            << "question:       " << QuoteText(c.Question) << "\n"
            << "question-style: " << MessageStyleName(c.MessageStyle) << "\n"
            << "overwrite:      " << OverwriteModeName(c.OverwriteMode) << "\n"
            << "options:        " << OptionNames(c.Options) << " (" << options << ")\n"
            << "archive:        at " << s.ArchiveStart << ", offsets count from "
            << (s.Directory.Base == s.ArchiveStart ? "the archive" : s.Directory.Base == 0 ? "the file start"
                                                                                             : "offset " + std::to_string(s.Directory.Base))
            << "\n"
            << "members:        " << s.Directory.Members.size() << (s.Directory.Zip64 ? " (ZIP64)" : "") << "\n\n";
  std::printf("%10s %10s  %-7s  %-9s  %-19s  %s\n", "size", "packed", "method", "encrypted", "date", "name");
  for (const ZipMember &m : s.Directory.Members)
    std::printf("%10" PRIu64 " %10" PRIu64 "  %-7s  %-9s  %s  %s\n", m.Uncompressed, m.Compressed,
                m.IsFolder ? "folder" : MethodName(m.Method),
                m.Encrypted() ? "yes" : "no", DosStamp(m.DosDate, m.DosTime).c_str(), m.DisplayName().c_str());
  return ExitOk;
}
