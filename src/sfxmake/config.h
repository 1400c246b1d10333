// config.h -- the configuration block that sits between a stub's image and its archive.
#ifndef SFXKIT_SFXMAKE_CONFIG_H
#define SFXKIT_SFXMAKE_CONFIG_H

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"
#include "zipformat.h"

// What a configuration block says, texts as raw ANSI bytes.
struct SfxConfig {
  uint16_t Options = 0;                // option bits, see OptionBits()
  uint8_t OverwriteMode = ModeAsk;     // the dialog's initial choice for existing files
  uint32_t MessageStyle = 0x24;        // Yes/No with the question mark, used only with a question
  std::string Title;                   // caption of the stub's messages; empty: the stub's default
  std::string Folder;                  // default target folder; may be a folder macro
  std::string Run;                     // program and parameters started after unzipping
  std::string Question;                // asked before anything else; empty: none
};

// One option bit and the command-line flag that sets it.
struct OptionBit {
  uint16_t Bit;
  const char *Flag;     // long option name without the dashes
  const char *Help;     // one line for --help
};
const std::vector<OptionBit> &OptionBits();

// The block as bytes; InputError (naming the text) when a text exceeds 255 bytes.
Bytes EncodeConfig(const SfxConfig &config);

// Reads a block at offset `at` of `file`. Sets *archiveStart to the first byte
// behind the trailer. InputError when the signatures or lengths do not fit.
SfxConfig DecodeConfig(const Bytes &file, uint64_t at, uint64_t *archiveStart);

// A number up to limit, in decimal or 0x-prefixed hexadecimal, nothing else.
bool ParseNumber(const std::string &text, uint32_t limit, uint32_t *value);
// Names and numbers of the overwrite modes and the start question's style.
uint8_t ParseOverwriteMode(const std::string &text);
const char *OverwriteModeName(uint8_t mode);
uint32_t ParseMessageStyle(const std::string &text);
std::string MessageStyleName(uint32_t style);
// The flags of the option bits set, unknown bits as one hex number; OptionNames
// joins them with blanks ("none" when there are none).
std::vector<std::string> OptionNameList(uint16_t options);
std::string OptionNames(uint16_t options);

#endif
