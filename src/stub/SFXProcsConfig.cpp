// SFXProcsConfig.cpp -- the configuration block behind the image: settings, start question, ArchiveStart.
#include "SFXProcsConfig.h"

#include <string.h>
#include <windows.h>

#include "SFXMain.h"
#include "SFXProcsFile.h"
#include "SFXProcsFolder.h"
#include "SFXStrings.h"
#include "SFXVars.h"

static const uint8_t HeaderSignature[4] = {'Q', 'F', 0, 1};
static const uint8_t TrailerSignature[4] = {'Q', 'F', 10, 1};

// PE layout offsets used to find the end of the image.
enum : uint32_t {
  DosPeOffset = 0x3C,            // 32-bit offset of the PE signature
  FileHeaderSections = 2,        // 16-bit section count, in the file header
  FileHeaderOptionalSize = 16,   // 16-bit SizeOfOptionalHeader
  FileHeaderSize = 20,
  SectionRawSize = 0x10,         // SizeOfRawData
  SectionRawPointer = 0x14,      // PointerToRawData
  SectionEntrySize = 40,
};

// The block starts where the last section's raw data ends. The section table
// follows the optional header, whose size the file header records: 224 bytes
// for a 32-bit image, 240 for a 64-bit one, so the same code serves both stubs.
// The image as mapped keeps the headers of the file byte for byte.
uint32_t ImageEndOffset() {
  const uint8_t *image = (const uint8_t *)GetModuleHandleA(nullptr);
  const uint8_t *fileHeader = image + GetLE32(image + DosPeOffset) + 4;
  uint32_t sections = GetLE16(fileHeader + FileHeaderSections);
  const uint8_t *section = fileHeader + FileHeaderSize + GetLE16(fileHeader + FileHeaderOptionalSize);
  uint32_t end = 0;
  for (uint32_t i = 0; i < sections; i++, section += SectionEntrySize) {
    uint32_t sectionEnd = GetLE32(section + SectionRawPointer) + GetLE32(section + SectionRawSize);
    if (sectionEnd > end) end = sectionEnd;
  }
  return end;
}

void ReadCountedString(SfxString &text, uint32_t length) {
  if (length == 0) return;
  SfxString read;
  ReadArchiveExact(read.SetLength(length), length);
  text = (SfxString &&)read;
}

// The start question may end the process: every answer that declines (Cancel,
// Abort, No, or closing the box) ends it quietly with exit code 0.
static void AskStartQuestion() {
  int answer = ShowMessageBox(nullptr, SfxSettings.StartMessage, SfxSettings.Title.Text(), SfxSettings.MessageStyle);
  if (answer == IDCANCEL || answer == IDABORT || answer == IDNO || answer == IDCLOSE) EndProcess(0);
}

void ReadConfiguration() {
  uint32_t blockStart = ImageEndOffset();
  SfxSettingsRecord &s = SfxSettings;
  SeekArchive((int32_t)blockStart, SeekFromStart);
  memset(s.Header, 0, sizeof s.Header);
  ReadArchiveExact(s.Header, CfgHeaderSize);
  if (memcmp(s.Header + CfgSignature, HeaderSignature, 4) != 0) FatalError(STR_CORRUPT);
  s.TrailerOffset = GetLE16(s.Header + CfgTrailerOffset);
  s.Options = GetLE16(s.Header + CfgOptions);
  s.OverwriteMode = s.Header[CfgOverwriteMode];
  s.TitleLength = s.Header[CfgTitleLength];
  s.FolderLength = s.Header[CfgFolderLength];
  s.RunLength = s.Header[CfgRunLength];
  s.MessageLength = s.Header[CfgMessageLength];
  s.MessageStyle = GetLE32(s.Header + CfgMessageStyle);

  ReadCountedString(s.Title, s.TitleLength);
  ReadCountedString(s.TargetFolder, s.FolderLength);
  ReadCountedString(s.RunCommand, s.RunLength);
  ReadCountedString(s.StartMessage, s.MessageLength);
  s.RunCommand = ExpandEnvironment(s.RunCommand);
  s.TargetFolder = ResolveTargetFolder(s.TargetFolder, s.FolderLength);

  // Asked before the trailer is looked at: a damaged trailer is reported only
  // to a user who agreed to go on.
  if (s.MessageLength > 0) AskStartQuestion();

  uint8_t trailer[4];
  SeekArchive((int32_t)(blockStart + s.TrailerOffset), SeekFromStart);
  ReadArchiveExact(trailer, sizeof trailer);
  if (memcmp(trailer, TrailerSignature, 4) != 0) FatalError(STR_CORRUPT);
  ArchiveStart = SeekArchive(4, SeekFromCurrent);  // behind the block length, which is not needed
}
