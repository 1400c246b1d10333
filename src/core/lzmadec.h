// lzmadec.h -- the LZMA decoder of ZIP method 14 (a 9-byte header, then a raw
// LZMA stream) and of solid members (MethodSolid: LZMA2 chunks in one block).
#ifndef SFXKIT_CORE_LZMADEC_H
#define SFXKIT_CORE_LZMADEC_H
#include "sfxcore.h"

enum {
  LzmaPieceSize = 1 << 18,  // output is written in pieces of at most this many bytes
};

// Decodes the current member, which holds uncompressedSize bytes: reads at most
// CompressedLeft bytes through ReadArchive (decrypting them through DecryptData),
// writes the output through WriteOutput in pieces of at most LzmaPieceSize bytes,
// each folded into EntryCrc.
// The member starts with the LZMA version (2 bytes, not checked), the size of the
// properties (2 bytes, which must be 5) and the properties: lc/lp/pb in one byte
// (lc up to 8, lp and pb up to 4) and the 32-bit dictionary size. The stream ends
// at the uncompressed size; an end marker may follow there (the decoder tells
// which by the range decoder's state, so the flag that announces a marker need
// not be passed) and is then read too. A marker anywhere else, a symbol past the
// size, a distance beyond the output so far or the dictionary, or a range coder
// that does not start with a zero byte stop it with BadData; input the member
// does not have with ArchiveEnded when the archive gave out, else BadData. What
// was decoded before a fault is written, nothing after; a refused write stops it
// at once (OutputRefused). The dictionary buffer is the smaller of the declared
// dictionary and the uncompressed size (at least 4096 bytes); when the system
// cannot give it the result is NoMemory and nothing is written.
// CompressedLeft ends as the count of member bytes the stream did not use.
DecodeResult LzmaDecode(uint64_t uncompressedSize);

// Decodes the current member of a solid block (MethodSolid, zipformat.h), which
// holds uncompressedSize bytes, reading and writing as LzmaDecode does. A member
// that opens a block drops the block before it and allocates the new one's
// dictionary (NoMemory, for it and every later member of its block, when the
// system cannot give it); any other continues the block the member decoded
// before it left. The member's chunks must produce exactly its size, its last
// chunk ending with its data: no end marker, no chunk reaching into the next
// member. Once a member fails (any result but Done, or SolidMemberFailed) every
// later member of its block is BadData, its dictionary being unknown: members
// must come in the order they were written, none left out, for the block to
// decode. The block's memory stays until the next block opens or SolidRelease.
DecodeResult SolidDecode(uint64_t uncompressedSize);
// The member SolidDecode just decoded is unsound after all (its CRC-32 or
// authentication code), or the caller could not decode it (no password): the
// later members of its block fail.
void SolidMemberFailed();
// Releases the block's memory; the next solid member must open a block.
void SolidRelease();
#endif
