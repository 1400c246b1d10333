// member.h -- decoding a stored member: its data copied block by block through
// the decryption and the CRC-32 to the output.
#ifndef SFXKIT_CORE_MEMBER_H
#define SFXKIT_CORE_MEMBER_H
#include "sfxcore.h"

// EmitOutput refused a piece for passing OutputLeft (DecodeMemberData clears it).
extern MEMBER_STATE bool OutputOverrun;

enum : uint32_t { StoredBlockSize = 32768 };  // member data moves in blocks of this size

// Copies CompressedLeft bytes from ReadArchive to WriteOutput in blocks of
// StoredBlockSize, decrypting them through DecryptData and folding each into
// EntryCrc. ArchiveEnded when the archive cannot fill a block (that block is not
// written); OutputRefused when WriteOutput refuses one.
DecodeResult CopyStored();
#endif
