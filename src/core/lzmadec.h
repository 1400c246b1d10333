// lzmadec.h -- the LZMA decoder of ZIP method 14: a 9-byte header, then a raw LZMA stream.
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
#endif
