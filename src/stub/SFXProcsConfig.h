// SFXProcsConfig.h -- the configuration block behind the image: settings, start question, ArchiveStart.
#ifndef SFXKIT_STUB_SFXPROCSCONFIG_H
#define SFXKIT_STUB_SFXPROCSCONFIG_H

#include <stdint.h>

#include "SFXString.h"

// File offset at which the configuration block starts: the end of the last section's raw data.
uint32_t ImageEndOffset();
// Reads length bytes from the current position into text; length 0 leaves text as it was.
void ReadCountedString(SfxString &text, uint32_t length);
// Reads the block's header and texts into SfxSettings: from here on every box
// has the publisher's title. May end the process (a block without its signature).
void ReadSettings();
// Then, once the switches are known: expands the run command, resolves the
// target folder, asks the start question (not in a silent run) and sets
// ArchiveStart. May end the process.
void SettleSettings();
// Both at once, for a start without switches in between.
inline void ReadConfiguration() {
  ReadSettings();
  SettleSettings();
}

#endif
