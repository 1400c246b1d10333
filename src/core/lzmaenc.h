// lzmaenc.h -- the LZMA encoder: raw LZMA streams for ZIP method 14 and LZMA2 chunks.
//
// The encoder models the input as the decoder does (lzmadec.h): literals coded
// bit by bit under the previous byte's high bits (lc) and the position's low
// bits (lp), matches as a length and a distance, "rep" matches at one of the
// four latest distances, and a single byte at the latest distance (short rep),
// all through an adaptive binary range coder whose probabilities depend on a
// 12-state summary of the last symbols and on the position's low bits (pb).
// It chooses symbols by price: for a window of up to 4096 positions it finds
// the cheapest way to code the input through them, in 1/16 bits under the
// current probabilities (a shortest path, including literal + rep0 and
// match + literal + rep0 sequences), matches coming from the binary-tree match
// finder (lzmamatch.h). Length and distance prices are tables refreshed as the
// probabilities drift.
//
// Output formats:
//  * Lzma1: the raw LZMA stream ended by the end marker (a match of distance
//    0xFFFFFFFF), as ZIP method 14 holds it behind its 9-byte header
//    (LzmaWriteHeader).
//  * Lzma2: a sequence of chunks, then the end byte 0x00. A chunk starts with a
//    control byte:
//      0x01  uncompressed chunk, resetting the dictionary; 0x02 without reset.
//            Then the size less 1 (16 bits, big-endian) and the bytes.
//      0x80 | r << 5 | (u - 1) >> 16  LZMA chunk of u bytes (at most 2 MiB),
//            then (u - 1) & 0xFFFF and the packed size less 1 (at most 64 KiB),
//            both 16-bit big-endian, then the properties byte (lc, lp, pb as in
//            method 14) when r >= 2, then a range-coded stream (5 bytes of
//            flush at its end, no end marker). r: 0 continues the coder's
//            state, 1 resets state and probabilities (and the rep distances),
//            2 does that and sets new properties, 3 also resets the dictionary.
//    The first chunk resets the dictionary. A chunk that would not shrink is
//    written uncompressed instead, and the next LZMA chunk resets the state.
//    FlushMember ends the current chunk, so that the output so far decodes to
//    exactly the input so far; the stream goes on with the same dictionary and
//    state. Raw LZMA2 carries no dictionary size: the container states it. A
//    container that knows where the stream ends (by its members' sizes) takes
//    FlushMember, then LzmaEncoderFree, and no end byte.
//
// Deterministic: the same input and settings give the same bytes on every
// platform and build, whatever pieces the input is fed in (for Lzma2, with
// FlushMember at the same input positions). Memory is allocated once, by
// LzmaEncoderCreate, and does not grow with the input: LzmaEncoderMemory says
// how much (about 10.5 times the dictionary, plus ~1.5 MB).
#ifndef SFXKIT_CORE_LZMAENC_H
#define SFXKIT_CORE_LZMAENC_H
#include <stddef.h>
#include <stdint.h>

enum class LzmaFormat : uint8_t { Lzma1, Lzma2 };

// The defaults are sfxmake's: a match finder as deep as liblzma's preset 9e,
// with a nice length of 64, which on programs and libraries packs within
// 0.06 % of 273 (the parse still takes matches up to 273 bytes) in less time.
struct LzmaEncoderSettings {
  uint32_t DictSize = 1 << 23;  // 4 KiB .. 1.5 GiB
  uint8_t Lc = 3, Lp = 0, Pb = 2;  // lc + lp at most 4, pb at most 4
  uint32_t NiceLen = 64;        // a match this long is taken at once (8..273)
  uint32_t Depth = 512;         // tree nodes the match finder visits per position at most
};

enum : uint32_t {
  LzmaHeaderSize = 9,           // method 14: version (2), properties size (2), properties (5)
  LzmaMinDictionary = 4096,
};

// Receives output in order; the bytes are the receiver's to change (encrypt)
// during the call, not after.
typedef void (*LzmaSink)(void *context, uint8_t *data, size_t count);

struct LzmaEncoder;

// The bytes LzmaEncoderCreate allocates for these settings.
uint64_t LzmaEncoderMemory(const LzmaEncoderSettings &settings);
// A new encoder writing `format` to sink, or null when the settings are out of
// range or the memory cannot be had.
LzmaEncoder *LzmaEncoderCreate(const LzmaEncoderSettings &settings, LzmaFormat format, LzmaSink sink, void *context);
// Encodes the next count bytes of input (output may lag behind by up to ~4.4 KB of input).
void LzmaEncoderFeed(LzmaEncoder *encoder, const uint8_t *data, size_t count);
// Lzma2: ends the current chunk, so that all input so far is in the output.
void LzmaEncoderFlushMember(LzmaEncoder *encoder);
// Encodes what is left and ends the stream (end marker, or the end byte).
void LzmaEncoderFinish(LzmaEncoder *encoder);
void LzmaEncoderFree(LzmaEncoder *encoder);

// The properties byte: (pb * 5 + lp) * 9 + lc.
uint8_t LzmaPropertiesByte(const LzmaEncoderSettings &settings);
// The 9-byte method-14 header: the encoder's version, 5, the properties byte and the dictionary size.
void LzmaWriteHeader(const LzmaEncoderSettings &settings, uint8_t header[LzmaHeaderSize]);
#endif
