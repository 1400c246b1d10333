// peimage.h -- where a Windows image ends in its file: the configuration block starts there.
#ifndef SFXKIT_SFXMAKE_PEIMAGE_H
#define SFXKIT_SFXMAKE_PEIMAGE_H

#include <cstdint>

#include "files.h"

struct ImageInfo {
  uint64_t End = 0;        // PointerToRawData + SizeOfRawData, largest over the sections
  uint16_t Machine = 0;    // 0x14C i386, 0x8664 x86-64
  uint16_t Subsystem = 0;  // 2 GUI, 3 console
};

// Reads the DOS and PE headers of `file`. The section table is located through
// the file header's SizeOfOptionalHeader, so PE32 and PE32+ images both work.
// InputError (naming `what`) when the file is no Windows image.
ImageInfo ReadImageInfo(const Bytes &file, const std::string &what);

#endif
