// config.cpp -- encoding and decoding the configuration block, and the readable
// names sfxmake uses for its fields on the command line and in `info`.
#include "config.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "errors.h"
#include "sfxcore.h"

namespace {

struct NamedValue {
  const char *Name;
  uint32_t Value;
};

// Message box buttons (low nibble) and icons (second nibble), as the start
// question passes its style straight to the system's message box.
const NamedValue ButtonNames[] = {
    {"ok", 0x0}, {"ok-cancel", 0x1}, {"abort-retry-ignore", 0x2}, {"yes-no-cancel", 0x3},
    {"yes-no", 0x4}, {"retry-cancel", 0x5},
};
const NamedValue IconNames[] = {
    {"error", 0x10}, {"question", 0x20}, {"warning", 0x30}, {"information", 0x40},
};
const NamedValue ModeNames[] = {{"overwrite", ModeOverwrite}, {"skip", ModeDontOverwrite}, {"ask", ModeAsk}};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

}  // namespace

bool ParseNumber(const std::string &text, uint32_t limit, uint32_t *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (errno || *end || text[0] == '-' || v > limit) return false;
  *value = (uint32_t)v;
  return true;
}

const std::vector<OptionBit> &OptionBits() {
  static const std::vector<OptionBit> bits = {
      {OptRunCheckBox, "run-checkbox", "offer a ticked 'After unzip, run' box instead of always running --run"},
      {OptSelectFiles, "select-files", "list rows start selected; the user picks the members to unzip"},
      {OptHideOverwrite, "hide-overwrite", "hide the 'If files already exist' choice"},
      {OptAutoUnzip, "auto", "unzip at once without waiting for the user, then close"},
      {OptNoDoneMessage, "no-done-message", "do not report 'All files have been unzipped.'"},
      {OptHideFileList, "hide-file-list", "open with the file list hidden (the user can still show it)"},
      {OptNoShowFiles, "no-show-files", "with --hide-file-list: remove the 'Show files' button too"},
      {OptAllowCancel, "allow-cancel", "keep Close enabled while unzipping so the user can cancel"},
      {OptUtf8Texts, "utf8-texts", "the texts are UTF-8 (set by itself when a text is not plain ASCII)"},
      {OptWaitForRun, "wait", "wait for --run's program and end with its exit code"},
      {OptWaitForAll, "wait-all", "--wait, and wait for the processes the program starts too"},
      {OptCleanUp, "cleanup", "--wait, then remove what was unpacked (implied by --folder $TEMP with --wait)"},
  };
  return bits;
}

Bytes EncodeConfig(const SfxConfig &c) {
  Bytes block(CfgHeaderSize);
  for (auto [text, what] : {std::pair{&c.Title, "the title"}, {&c.Folder, "the folder"}, {&c.Run, "the run command"},
                            {&c.Question, "the question"}}) {
    if (text->size() > CfgMaxTextLength)
      throw InputError(std::string(what) + " is " + std::to_string(text->size()) +
                       " bytes long; the configuration block holds at most 255 bytes per text");
    block.insert(block.end(), text->begin(), text->end());
  }
  uint32_t trailer = (uint32_t)block.size();
  block.resize(trailer + CfgTrailerSize);
  ConfigHeader h = {(uint16_t)trailer, c.Options, c.OverwriteMode, (uint8_t)c.Title.size(), (uint8_t)c.Folder.size(),
                    (uint8_t)c.Run.size(), (uint8_t)c.Question.size(), c.MessageStyle};
  EncodeConfigHeader(h, block.data());
  EncodeConfigTrailer(trailer, block.data() + trailer);
  return block;
}

SfxConfig DecodeConfig(const Bytes &file, uint64_t at, uint64_t *archiveStart) {
  const char *corrupt = "no sfxkit configuration block behind the image";
  if (at + CfgHeaderSize > file.size()) throw InputError(corrupt);
  ConfigHeader h;
  if (!DecodeConfigHeader(file.data() + at, &h)) throw InputError(corrupt);
  SfxConfig c;
  c.Options = h.Options;
  c.OverwriteMode = h.OverwriteMode;
  c.MessageStyle = h.MessageStyle;
  uint64_t pos = at + CfgHeaderSize;
  for (auto [text, length] : {std::pair{&c.Title, h.TitleLength}, {&c.Folder, h.FolderLength},
                              {&c.Run, h.RunLength}, {&c.Question, h.MessageLength}}) {
    if (pos + length > file.size()) throw InputError("configuration block: a text runs past the end of the file");
    text->assign(file.begin() + pos, file.begin() + pos + length);
    pos += length;
  }
  uint64_t trailer = at + h.TrailerOffset;
  if (trailer < pos || trailer + CfgTrailerSize > file.size() || !IsConfigTrailer(file.data() + trailer))
    throw InputError("configuration block: damaged trailer");
  *archiveStart = trailer + CfgTrailerSize;
  return c;
}

uint8_t ParseOverwriteMode(const std::string &text) {
  for (const NamedValue &m : ModeNames)
    if (text == m.Name) return (uint8_t)m.Value;
  uint32_t v;
  if (ParseNumber(text, 2, &v)) return (uint8_t)v;
  throw InputError("--overwrite takes ask, skip or overwrite (or 2, 1, 0), not '" + text + "'");
}

const char *OverwriteModeName(uint8_t mode) {
  for (const NamedValue &m : ModeNames)
    if (mode == m.Value) return m.Name;
  return "unknown";
}

uint32_t ParseMessageStyle(const std::string &text) {
  uint32_t v;
  if (ParseNumber(text, 0xFFFFFFFFu, &v)) return v;
  uint32_t style = 0;
  std::stringstream parts(text);
  std::string part;
  bool buttons = false, icon = false;
  while (std::getline(parts, part, ',')) {
    bool known = false;
    for (const NamedValue &b : ButtonNames)
      if (part == b.Name && !buttons) style |= b.Value, known = buttons = true;
    for (const NamedValue &i : IconNames)
      if (part == i.Name && !icon) style |= i.Value, known = icon = true;
    if (!known)
      throw InputError("--question-style: '" + part + "' is not a button set or icon name (see sfxmake build --help)");
  }
  return style;
}

std::string MessageStyleName(uint32_t style) {
  std::string name;
  uint32_t rest = style;
  for (const NamedValue &b : ButtonNames)
    if ((style & 0xF) == b.Value) name = b.Name, rest &= ~0xFu;
  for (const NamedValue &i : IconNames)
    if ((style & 0xF0) == i.Value) name += std::string(",") + i.Name, rest &= ~0xF0u;
  return name.empty() || rest ? Hex(style) : name;
}

std::vector<std::string> OptionNameList(uint16_t options) {
  std::vector<std::string> names;
  uint16_t rest = options;
  for (const OptionBit &o : OptionBits())
    if (options & o.Bit) {
      names.push_back(o.Flag);
      rest &= (uint16_t)~o.Bit;
    }
  if (rest) names.push_back(Hex(rest));
  return names;
}

std::string OptionNames(uint16_t options) {
  std::string joined;
  for (const std::string &name : OptionNameList(options)) joined += (joined.empty() ? "" : " ") + name;
  return joined.empty() ? "none" : joined;
}
