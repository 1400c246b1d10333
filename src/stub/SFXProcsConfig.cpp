// SFXProcsConfig.cpp -- the configuration block behind the image: settings, start question, ArchiveStart.
#include "SFXProcsConfig.h"

#include <windows.h>

#include "SFXDefs.h"
#include "SFXMain.h"
#include "SFXProcsFile.h"
#include "SFXProcsFolder.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"

// The block starts where the last section's raw data ends. The image as mapped
// keeps the headers of the file byte for byte, and they lie within its first
// page, which is always mapped.
uint32_t ImageEndOffset() {
  enum : uint32_t { HeaderPage = 4096 };
  ImageLayout layout;
  ReadImageLayout((const uint8_t *)GetModuleHandleA(nullptr), HeaderPage, &layout);
  return (uint32_t)layout.End;
}

// The texts are stored in the ANSI code page, or in UTF-8 when the block says
// so (OptUtf8Texts); the stub keeps them in UTF-8.
void ReadCountedString(SfxString &text, uint32_t length) {
  if (length == 0) return;
  SfxString read;
  ReadArchiveExact(read.SetLength(length), length);
  text = FromCodePage((SfxSettings.Options & OptUtf8Texts) ? CP_UTF8 : CP_ACP, read.Text(), length);
}

void ReadSettings() {
  SfxSettingsRecord &s = SfxSettings;
  SeekArchive(ImageEndOffset(), SeekFromStart);
  uint8_t header[CfgHeaderSize] = {};
  ReadArchiveExact(header, CfgHeaderSize);
  if (!DecodeConfigHeader(header, &s)) FatalError(STR_CORRUPT);

  ReadCountedString(s.Title, s.TitleLength);
  ReadCountedString(s.TargetFolder, s.FolderLength);
  ReadCountedString(s.RunCommand, s.RunLength);
  ReadCountedString(s.StartMessage, s.MessageLength);
}

void SettleSettings() {
  SfxSettingsRecord &s = SfxSettings;
  s.RunCommand = ExpandEnvironment(s.RunCommand);
  s.TargetFolder = ResolveTargetFolder(s.TargetFolder, s.FolderLength);

  // Asked before the trailer is looked at: a damaged trailer is reported only
  // to a user who agreed to go on. Every answer that declines (Cancel, Abort,
  // No, or closing the box) ends the process quietly with exit code 0.
  if (s.MessageLength > 0 && !Silent &&
      StartAnswerDeclines(ShowMessageBox(nullptr, s.StartMessage, s.Title.Text(), s.MessageStyle)))
    EndProcess(ExitDone);

  uint8_t trailer[4];
  SeekArchive(ImageEndOffset() + s.TrailerOffset, SeekFromStart);
  ReadArchiveExact(trailer, sizeof trailer);
  if (!IsConfigTrailer(trailer)) FatalError(STR_CORRUPT);
  ArchiveStart = SeekArchive(4, SeekFromCurrent);  // behind the block length, which is not needed
}
