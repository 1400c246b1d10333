// SFXStructs.h -- the records the stub reads from its own file: the configuration
// block's header and the central directory's fixed part (ArchiveEntry).
//
// Records are kept as the bytes read and decoded with the little-endian helpers
// of sfxcore.h; their layouts are pinned by the offsets and asserts below.
#ifndef SFXKIT_STUB_SFXSTRUCTS_H
#define SFXKIT_STUB_SFXSTRUCTS_H

#include <stdint.h>

#include "SFXString.h"
#include "sfxcore.h"

// Configuration block header (18 bytes at ImageEndOffset).
enum : uint32_t {
  CfgSignature = 0,       // 4: 'Q','F',0,1
  CfgTrailerOffset = 4,   // 2: trailer's offset from the block start
  CfgOptions = 6,         // 2: Opt* bits
  CfgOverwriteMode = 8,   // 1
  CfgTitleLength = 9,     // 1
  CfgFolderLength = 10,   // 1
  CfgRunLength = 11,      // 1
  CfgReserved = 12,       // 1: written as 0, never read
  CfgMessageLength = 13,  // 1
  CfgMessageStyle = 14,   // 4: MessageBox style of the start question
  CfgHeaderSize = 18,
  CfgTrailerSize = 8,     // trailer signature 'Q','F',10,1 and the block length
};
static_assert(CfgMessageStyle + 4 == CfgHeaderSize, "configuration header is 18 bytes");

// The settings as read: the header's fields and the four texts.
struct SfxSettingsRecord {
  uint8_t Header[CfgHeaderSize] = {};  // the 18 bytes exactly as read
  uint16_t TrailerOffset = 0;
  uint16_t Options = 0;
  uint8_t OverwriteMode = 0;           // changes at run time (radio buttons, prompt)
  uint8_t TitleLength = 0;
  uint8_t FolderLength = 0;
  uint8_t RunLength = 0;
  uint8_t MessageLength = 0;
  uint32_t MessageStyle = 0;
  SfxString Title;                     // caption of the message boxes about the run
  SfxString TargetFolder;              // resolved default, later the user's choice
  SfxString RunCommand;                // environment variables already expanded
  SfxString StartMessage;              // the start question, empty for none
};

// End of central directory record (22 bytes).
enum : uint32_t {
  EndTotalEntries = 10,   // 2
  EndDirectorySize = 12,  // 4
  EndDirectoryOffset = 16,// 4
  EndCommentLength = 20,  // 2
  EndRecordSize = 22,
};

// Central directory file header, fixed part (46 bytes), kept verbatim.
struct ArchiveEntry {
  uint8_t Bytes[46];
};
enum : uint32_t {
  EntrySignature = 0,
  EntryVersionMadeBy = 4,
  EntryVersionNeeded = 6,
  EntryFlags = 8,
  EntryMethod = 10,
  EntryDosTime = 12,
  EntryDosDate = 14,
  EntryCrc32 = 16,
  EntryCompressedSize = 20,
  EntryUncompressedSize = 24,
  EntryNameLength = 28,
  EntryExtraLength = 30,
  EntryCommentLength = 32,
  EntryDiskStart = 34,
  EntryInternalAttributes = 36,
  EntryExternalAttributes = 38,
  EntryLocalHeaderOffset = 42,
  EntrySize = 46,
};
static_assert(sizeof(ArchiveEntry) == EntrySize, "ArchiveEntry is the 46-byte fixed part");
static_assert(EntryLocalHeaderOffset + 4 == EntrySize, "last field ends the record");

inline uint16_t Field16(const ArchiveEntry &e, uint32_t offset) { return GetLE16(e.Bytes + offset); }
inline uint32_t Field32(const ArchiveEntry &e, uint32_t offset) { return GetLE32(e.Bytes + offset); }

// Local file header (30 bytes); only the signature and the two lengths are used.
enum : uint32_t {
  LocalNameLength = 26,
  LocalExtraLength = 28,
  LocalHeaderSize = 30,
};

// The growable array of the file members' records, in directory order.
struct EntryArray {
  ArchiveEntry *Items = nullptr;
  uint32_t Count = 0;
  uint32_t Capacity = 0;
};

#endif
