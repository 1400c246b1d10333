// config.h -- the configuration block that sits between a stub's image and its archive.
#ifndef SFXKIT_SFXMAKE_CONFIG_H
#define SFXKIT_SFXMAKE_CONFIG_H

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"

// Block layout: an 18-byte header, the four texts back to back, then the trailer.
enum : uint32_t {
  CfgSignature = 0,       // 4: 'Q','F',0,1
  CfgTrailerOffset = 4,   // 2: trailer's offset from the block start
  CfgOptions = 6,         // 2: option bits
  CfgOverwriteMode = 8,   // 1: 0 overwrite, 1 skip, 2 ask
  CfgTitleLength = 9,     // 1
  CfgFolderLength = 10,   // 1
  CfgRunLength = 11,      // 1
  CfgReserved = 12,       // 1: always written as 0
  CfgMessageLength = 13,  // 1
  CfgMessageStyle = 14,   // 4: message box style of the start question
  CfgHeaderSize = 18,
  CfgTrailerSize = 8,     // 'Q','F',10,1 and the trailer's own offset again
  CfgMaxText = 255,       // each length is one byte
};
static_assert(CfgMessageStyle + 4 == CfgHeaderSize, "configuration header is 18 bytes");

enum OverwriteModeValue : uint8_t { ModeOverwrite = 0, ModeDontOverwrite = 1, ModeAsk = 2 };

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

// Names and numbers of the overwrite modes and the start question's style.
uint8_t ParseOverwriteMode(const std::string &text);
const char *OverwriteModeName(uint8_t mode);
uint32_t ParseMessageStyle(const std::string &text);
std::string MessageStyleName(uint32_t style);
std::string OptionNames(uint16_t options);
const char *MessageStyleHelp();

#endif
