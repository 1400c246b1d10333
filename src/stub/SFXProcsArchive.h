// SFXProcsArchive.h -- the archive directory reader: end record, ArchiveBase, central directory, names.
#ifndef SFXKIT_STUB_SFXPROCSARCHIVE_H
#define SFXKIT_STUB_SFXPROCSARCHIVE_H

#include "SFXStructs.h"

// Absolute file offset of the end record; ends the process when there is none.
// Leaves the file position anywhere: the caller seeks to what it reads next.
uint64_t FindEndRecord();
// Sets ArchiveBase and hands every file member to AddFileItem.
void ReadArchiveDirectory();

#endif
