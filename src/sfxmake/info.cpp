// info.cpp -- `sfxmake info`: the configuration, the publisher's resources and the
// member list of a finished program, as text or as JSON for scripts.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "cli.h"
#include "errors.h"
#include "platform.h"
#include "publisher.h"
#include "sfxfile.h"
#include "summary.h"
#include "utf8.h"

namespace {

const char InfoUsage[] =
    "usage: sfxmake info [--json] FILE.exe\n"
    "\n"
    "Shows the configuration of a self-extracting program (every field, options by\n"
    "name, texts quoted), the resources a publisher gave it (icon, version texts,\n"
    "execution level) and its members: size, packed size, method, encryption, date, name.\n"
    "\n"
    "      --json   the same as one JSON object, for scripts\n"
    "  -h, --help   this text\n";

std::string DosStamp(uint16_t date, uint16_t time, char separator = ' ') {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                separator, time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return text;
}

// A label and the blanks that line up what follows it (one at least).
std::string Label(std::string label, size_t width) {
  label.resize(std::max(label.size() + 1, width), ' ');
  return label;
}

// The configuration's texts as the stub will show them, in UTF-8, named as both views name them.
std::vector<std::pair<const char *, std::string>> ConfigTexts(const SfxConfig &c) {
  std::vector<std::pair<const char *, std::string>> texts;
  for (auto [name, text] : {std::pair{"title", &c.Title}, {"folder", &c.Folder}, {"run", &c.Run}, {"question", &c.Question}})
    texts.push_back({name, (c.Options & OptUtf8Texts) ? *text : NameToUtf8(*text, false, false)});
  return texts;
}

// The caption the stub's messages will have: the title, or the stub's default.
std::string ShownTitle(const SfxConfig &c) {
  std::string title = ConfigTexts(c)[0].second;
  return title.empty() ? CFG_DEFAULT_TITLE : title;
}

std::string IconText(const std::vector<IconImage> &icon) {
  std::string text = std::to_string(icon.size()) + (icon.size() == 1 ? " image:" : " images:");
  for (size_t i = 0; i < icon.size(); i++)
    text += (i ? ", " : " ") + std::to_string(icon[i].Width) + "x" + std::to_string(icon[i].Height) + " " +
            std::to_string(icon[i].BitCount) + "-bit" + (icon[i].Png ? " PNG" : "");
  return text;
}

// A text in double quotes, for people or for JSON (see Escape).
std::string Quote(const std::string &s, bool json) {
  return "\"" + Escape(s, json ? Escaping::Json : Escaping::Quoted) + "\"";
}

void PrintJson(const SfxFile &s, const PublisherInfo &p) {
  const SfxConfig &c = s.Config;
  std::ostringstream o;
  o << "{\n  \"file\": " << Quote(s.Path, true) << ",\n"
    << "  \"stub\": {\"bits\": " << (s.Image.Machine == 0x8664 ? 64 : 32) << ", \"image_end\": " << s.Image.End << "},\n"
    << "  \"config\": {";
  for (const auto &[name, text] : ConfigTexts(c)) o << "\"" << name << "\": " << Quote(text, true) << ", ";
  o << "\"title_shown\": " << Quote(ShownTitle(c), true) << ", \"question_style\": " << Quote(MessageStyleName(c.MessageStyle), true)
    << ", \"overwrite\": " << Quote(OverwriteModeName(c.OverwriteMode), true) << ", \"options\": " << c.Options
    << ", \"option_names\": [";
  std::vector<std::string> names = OptionNameList(c.Options);
  for (size_t i = 0; i < names.size(); i++) o << (i ? ", " : "") << Quote(names[i], true);
  // The names as one text, as they were given before the list: kept for one release.
  o << "], \"option_names_text\": " << Quote(OptionNames(c.Options), true) << "},\n"
    << "  \"resources\": {\"execution_level\": " << Quote(p.ExecutionLevel, true) << ", \"icon\": [";
  for (size_t i = 0; i < p.Icon.size(); i++)
    o << (i ? ", " : "") << "{\"width\": " << p.Icon[i].Width << ", \"height\": " << p.Icon[i].Height
      << ", \"bits\": " << p.Icon[i].BitCount << ", \"format\": " << (p.Icon[i].Png ? "\"png\"" : "\"bmp\"")
      << ", \"size\": " << p.Icon[i].Size << "}";
  o << "], \"version\": ";
  if (p.HasVersion) {
    o << "{\"file_version\": " << Quote(p.FileVersion.Text(), true)
      << ", \"product_version\": " << Quote(p.ProductVersion.Text(), true) << ", \"strings\": {";
    for (size_t i = 0; i < p.Strings.size(); i++)
      o << (i ? ", " : "") << Quote(p.Strings[i].first, true) << ": " << Quote(p.Strings[i].second, true);
    o << "}}";
  } else {
    o << "null";
  }
  TreeCounts tree = CountTree(s.Directory);
  o << "},\n  \"archive\": {\"start\": " << s.ArchiveStart << ", \"offsets_from\": " << s.Directory.Base
    << ", \"files\": " << tree.Files << ", \"folders\": " << tree.Folders << "},\n"
    << "  \"members\": [";
  for (size_t i = 0; i < s.Directory.Members.size(); i++) {
    const ZipMember &m = s.Directory.Members[i];
    o << (i ? ",\n" : "\n") << "    {\"name\": " << Quote(m.DisplayName(), true) << ", \"size\": " << m.UncompressedSize
      << ", \"packed\": " << m.CompressedSize << ", \"method\": " << Quote(MemberMethod(m), true)
      << ", \"encrypted\": " << (m.Encrypted() ? "true" : "false")
      << ", \"protection\": " << Quote(MemberProtection(m), true)
      << ", \"date\": " << Quote(DosStamp(m.DosDate(), m.DosTime(), 'T'), true) << "}";
  }
  o << (s.Directory.Members.empty() ? "]\n}\n" : "\n  ]\n}\n");
  std::cout << o.str();
}

}  // namespace

int InfoCommand(const Args &args) {
  ParsedArgs a = ParseArgs(args, {{"help", 'h', false}, {"json", 0, false}});
  if (a.Has("help")) {
    std::cout << InfoUsage;
    return ExitOk;
  }
  if (a.Operands.size() != 1) throw InputError("info takes exactly one FILE.exe (see sfxmake info --help)");
  SfxFile s = OpenSfx(a.Operands[0]);
  PublisherInfo p = ReadPublisher(s.Data, s.Path);
  if (a.Has("json")) {
    PrintJson(s, p);
    return ExitOk;
  }
  const SfxConfig &c = s.Config;
  char options[16];
  std::snprintf(options, sizeof options, "0x%04X", c.Options);
  const char *bits = s.Image.Machine == 0x8664 ? "64-bit" : "32-bit";
  std::cout << "stub:           " << bits << ", image of " << s.Image.End << " bytes\n";
  for (const auto &[name, text] : ConfigTexts(c))
    std::cout << Label(name + std::string(":"), 16)
              << (name == std::string("title") ? Quote(ShownTitle(c), false) + (text.empty() ? " (default)" : "")
                                               : Quote(text, false))
              << "\n";
  std::cout << "question-style: " << MessageStyleName(c.MessageStyle) << "\n"
            << "overwrite:      " << OverwriteModeName(c.OverwriteMode) << "\n"
            << "options:        " << OptionNames(c.Options) << " (" << options << ")\n"
            << "archive:        at " << s.ArchiveStart << ", offsets count from "
            << (s.Directory.Base == s.ArchiveStart ? "the archive" : s.Directory.Base == 0 ? "the file start"
                                                                                             : "offset " + std::to_string(s.Directory.Base))
            << "\n"
            << "execution:      " << (p.ExecutionLevel.empty() ? "no manifest" : p.ExecutionLevel) << "\n"
            << "icon:           " << (p.Icon.empty() ? "none" : IconText(p.Icon)) << "\n"
            << "version:        "
            << (p.HasVersion ? "file " + p.FileVersion.Text() + ", product " + p.ProductVersion.Text() : "none") << "\n";
  for (const auto &text : p.Strings)  // 19: the longest key, FileDescription, and a blank
    std::cout << Label("  " + text.first + ":", 19) << Quote(text.second, false) << "\n";
  std::cout << "members:        " << s.Directory.Members.size() << (s.Directory.Zip64 ? " (ZIP64)" : "") << "\n"
            << "unpacks:        " << TreeText(CountTree(s.Directory)) << "\n\n";
  std::printf("%10s %10s  %-11s  %-10s  %-19s  %s\n", "size", "packed", "method", "protection", "date", "name");
  for (const ZipMember &m : s.Directory.Members)
    std::printf("%10" PRIu64 " %10" PRIu64 "  %-11s  %-10s  %s  %s\n", m.UncompressedSize, m.CompressedSize, MemberMethod(m),
                MemberProtection(m), DosStamp(m.DosDate(), m.DosTime()).c_str(), m.ShownName().c_str());
  return ExitOk;
}
