// SFXStructs.h -- the stub's records: the settings as read from the configuration
// block, and the array of the file members' central directory records. The
// on-disk layouts themselves are the core's (zipformat.h).
#ifndef SFXKIT_STUB_SFXSTRUCTS_H
#define SFXKIT_STUB_SFXSTRUCTS_H

#include <stdint.h>

#include "SFXString.h"
#include "zipformat.h"

// The settings as read: the header's fields (OverwriteMode changes at run time:
// radio buttons, prompt) and the four texts.
struct SfxSettingsRecord : ConfigHeader {
  SfxString Title;                     // caption of the message boxes about the run
  SfxString TargetFolder;              // resolved default, later the user's choice
  SfxString RunCommand;                // environment variables already expanded
  SfxString StartMessage;              // the start question, empty for none
};

// The growable array of the file members' records, in directory order.
struct EntryArray {
  MemberInfo *Items = nullptr;
  uint32_t Count = 0;
  uint32_t Capacity = 0;
};

#endif
