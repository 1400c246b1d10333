// decode.h -- a member's data decoded by its compression method: the one
// dispatch the stub and sfxmake share, so that both read the same methods.
#ifndef SFXKIT_CORE_DECODE_H
#define SFXKIT_CORE_DECODE_H
#include "sfxcore.h"

// Whether DecodeMemberData has a decoder for the method: stored, deflated, LZMA,
// members of a solid block.
bool MethodDecodable(uint16_t method);

// Decodes the current member, standing at its data (behind any encryption
// header), with its method's decoder: CopyStored, Inflate, LzmaDecode or SolidDecode, whose
// contracts and results hold unchanged. uncompressedSize is the directory's
// size: an LZMA stream may end without a marker, and it bounds LZMA's dictionary.
// It also bounds the output (OutputLeft): data that goes on past it ends the
// member as TooLong; data that ends short of it leaves OutputLeft above 0, which
// JudgeMemberData finds. The method must be one MethodDecodable accepts.
DecodeResult DecodeMemberData(uint16_t method, uint64_t uncompressedSize);
#endif
