// inflate.cpp -- the deflate decoder (RFC 1951): bit input, stored/fixed/dynamic blocks, the 32 KB window.
#include "inflate.h"

#include <string.h>

#include "crc32.h"
#include "crypt.h"
#include "sfxcore.h"

// Lengths of literal/length codes 257..285, then 286 and 287, which RFC 1951
// leaves unused: their extra-bit count 99 makes them decode as invalid codes.
static const uint16_t LengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                        35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
static const uint8_t LengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                        3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
static const uint16_t DistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                          193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static const uint16_t MaskBits[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F, 0x007F, 0x00FF,
                                      0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};
static const uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Stands in for the distance table of a dynamic block that has no distance codes:
// any length code met there then fails as an invalid distance.
static const HuffmanEntry NoDistanceCodes[1] = {{99, 0, 0, nullptr}};

HuffmanEntry *FixedLiteralTable;
HuffmanEntry *FixedDistanceTable;
static int FixedLiteralBits;
static int FixedDistanceBits;

static uint64_t BitBuffer;      // input bits not yet consumed; the next bit of the stream is bit 0
static unsigned BitCount;       // valid bits in BitBuffer; the bits above may already hold the next input
static unsigned OneBits;        // of those, how many (the top ones) stand in for data that has ended
static uint8_t *InputBuffer;    // compressed bytes read from the archive, already decrypted
static uint32_t InputPos;       // next byte to hand out from InputBuffer
static uint32_t InputLength;    // bytes the last refill put into InputBuffer
static uint8_t *Window;         // the last 32768 output bytes; also the output buffer
static uint32_t WindowPos;      // where the next output byte goes, 0..WindowSize
static bool WindowWrapped;      // the window has been flushed whole: every distance reaches real output
static bool InputEnded;         // ReadArchive gave nothing while compressed bytes were still due
static bool OutputRefused;      // WriteOutput refused a piece: decoding stops

// Refills InputBuffer with at most CompressedLeft bytes, decrypting them in place.
// Returns the next byte, or -1 when the archive yields nothing more (which ends the
// member's data for good).
static int ReadInputByte() {
  uint32_t want = CompressedLeft < InputBufferSize ? (uint32_t)CompressedLeft : (uint32_t)InputBufferSize;
  uint32_t got = ReadArchive(InputBuffer, want);
  if (got > want) got = want;
  InputPos = 0;
  InputLength = got;
  if (got == 0) {
    InputEnded = true;
    CompressedLeft = 0;
    return -1;
  }
  CompressedLeft -= got;
  if (EntryEncrypted) DecryptBuffer(InputBuffer, got);
  return InputBuffer[InputPos++];
}

// The next byte of the member's compressed data, or -1 after its end.
static int NextCompressedByte() {
  if (InputPos < InputLength) return InputBuffer[InputPos++];
  if (CompressedLeft <= 0) return -1;
  return ReadInputByte();
}

// Tops BitBuffer up a byte at a time near the end of a refill or of the data.
// Once the data has ended the buffer is filled with one-bits, counted in OneBits,
// so that the last codes can still be looked up with a full-width index.
static void FillBitsSlowly() {
  while (BitCount <= 56) {
    int c = NextCompressedByte();
    if (c < 0) {
      BitBuffer |= ~(uint64_t)0 << BitCount;
      OneBits += 64 - BitCount;
      BitCount = 64;
      return;
    }
    BitBuffer = (BitBuffer & ~(~(uint64_t)0 << BitCount)) | ((uint64_t)c << BitCount);
    BitCount += 8;
  }
}

static inline uint64_t Load64(const uint8_t *p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
#else
  return (uint64_t)GetLE32(p) | ((uint64_t)GetLE32(p + 4) << 32);
#endif
}

// The block routines keep the bit state and the input position in locals (the
// window writes would otherwise force every global to be reloaded) and store them
// back before anything else reads them.
#define LOAD_BITS()                    \
  uint64_t b = BitBuffer;              \
  unsigned k = BitCount;               \
  const uint8_t *in = InputBuffer;     \
  uint32_t ip = InputPos;              \
  uint32_t il = InputLength;           \
  unsigned ph = OneBits
#define SAVE_BITS() (BitBuffer = b, BitCount = k, InputPos = ip)
// NEEDBITS(n), n at most 56: at least n bits in b. With 8 bytes at hand it loads
// them at once and keeps the whole bytes that fit; the bits above k then already
// hold the next input, which a later load writes again unchanged.
#define NEEDBITS(n)                                 \
  do {                                              \
    if (k < (unsigned)(n)) {                        \
      if (il - ip >= 8) {                           \
        b |= Load64(in + ip) << k;                  \
        ip += (63 - k) >> 3;                        \
        k |= 56;                                    \
      } else {                                      \
        SAVE_BITS();                                \
        FillBitsSlowly();                           \
        b = BitBuffer;                              \
        k = BitCount;                               \
        ip = InputPos;                              \
        il = InputLength;                           \
        ph = OneBits;                               \
      }                                             \
    }                                               \
  } while (0)
#define DUMPBITS(n) (b >>= (n), k -= (n))
// True once a consumed bit lay beyond the end of the data.
#define PAST_END() (k < ph)

// Writes the first count bytes of the window out and through the CRC. False
// when the output refused them: the block routines then stop as at a fault.
static bool FlushWindow(uint32_t count) {
  if (!WriteOutput(Window, count)) {
    OutputRefused = true;
    return false;
  }
  UpdateCrcBuffer(Window, (int32_t)count, EntryCrc);
  if (count == WindowSize) WindowWrapped = true;
  return true;
}

// Follows the code at the bottom of b through its tables and drops its bits.
// Returns the entry that ends it, or null for a code the set leaves unassigned.
// b must hold as many bits as the longest code of the set.
static inline __attribute__((always_inline)) const HuffmanEntry *DecodeSymbol(const HuffmanEntry *t, uint64_t &b,
                                                                               unsigned &k) {
  unsigned e = (uint8_t)t->Op;
  while (e > 16) {
    if (e == 99) return nullptr;
    DUMPBITS((unsigned)t->Bits);
    e -= 16;
    t = t->SubTable + (b & MaskBits[e]);
    e = (uint8_t)t->Op;
  }
  DUMPBITS((unsigned)t->Bits);
  return t;
}

static inline void Copy8(uint8_t *dst, const uint8_t *src) {
  uint64_t v;
  memcpy(&v, src, 8);
  memcpy(dst, &v, 8);
}

static inline void Copy4(uint8_t *dst, const uint8_t *src) {
  uint32_t v;
  memcpy(&v, src, 4);
  memcpy(dst, &v, 4);
}

// Copies run bytes forwards, as Window[WindowPos++] = Window[d++] would: when the
// source is less than run bytes behind, the bytes just written are read again,
// which repeats the last distance bytes. When the source is at least eight bytes
// ahead or behind (apart8), words give the same bytes: each is loaded before it
// is stored, and the last, partial word is taken again whole, ending with the
// run, over bytes that already hold what it rewrites. Nothing past the run is
// written: the window's next bytes are still history.
static inline __attribute__((always_inline)) void CopyRun(uint8_t *dst, const uint8_t *src, unsigned run, bool apart8) {
  if (apart8) {
    if (run >= 8) {
      unsigned i = 0;
      do Copy8(dst + i, src + i);
      while ((i += 8) + 8 <= run);
      if (i < run) Copy8(dst + run - 8, src + run - 8);
      return;
    }
    if (run >= 4) {
      Copy4(dst, src);
      Copy4(dst + run - 4, src + run - 4);
      return;
    }
  }
  while (run--) *dst++ = *src++;
}

// Decodes literal/length and distance codes up to the end of the block. Returns
// false at the first invalid code, distance before the first output byte, or bit
// past the end of the data; the symbol that met it produces nothing.
static bool InflateCodes(const HuffmanEntry *tl, const HuffmanEntry *td, int bl, int bd) {
  LOAD_BITS();
  uint8_t *w = Window;
  uint32_t wp = WindowPos;
  const unsigned ml = MaskBits[bl], md = MaskBits[bd];
  bool ok = false;
  for (;;) {
    // The longest literal/length code with its extra bits and the longest distance
    // code with its extra bits take 15 + 5 + 15 + 13 bits: one fill per symbol.
    const HuffmanEntry *t;
    if (il - ip >= 8 && wp < WindowSize - 1) {
      // Far from the input's and the window's ends: NEEDBITS(48) without a
      // branch. The load is harmless when k is already 48 or more (the bits
      // above k already hold the next input); only ip and k depend on k, so the
      // input is taken exactly as the careful fill would take it, and a stream
      // followed by other bytes stops reading where it always did. Literals
      // whose codes the first level resolves are written here, one after the
      // other while the next one needs no fill.
      b |= Load64(in + ip) << k;
      unsigned low = 0u - (k < 48);  // all ones when the fill takes bytes
      ip += ((63 - k) >> 3) & low;
      k |= 56 & low;
      t = tl + (b & ml);
      if (t->Op == 16) {
        for (;;) {
          DUMPBITS((unsigned)t->Bits);
          w[wp++] = (uint8_t)t->Base;
          if (k < 48 || wp == WindowSize - 1) break;
          t = tl + (b & ml);
          if (t->Op != 16) goto decode;
        }
        continue;
      }
    } else {
      NEEDBITS(48);
      t = tl + (b & ml);
    }
  decode:
    t = DecodeSymbol(t, b, k);
    if (!t) break;
    unsigned e = (uint8_t)t->Op;
    if (e == 16) {
      if (PAST_END()) break;
      w[wp++] = (uint8_t)t->Base;
      if (wp == WindowSize) {
        wp = 0;
        if (!FlushWindow(WindowSize)) break;
      }
      continue;
    }
    if (e == 15) {
      ok = !PAST_END();
      break;
    }

    unsigned n = t->Base + ((unsigned)b & MaskBits[e]);
    DUMPBITS(e);
    t = DecodeSymbol(td + (b & md), b, k);
    if (!t) break;
    e = (uint8_t)t->Op;
    unsigned dist = t->Base + ((unsigned)b & MaskBits[e]);
    DUMPBITS(e);
    if (PAST_END()) break;
    if (dist > wp && !WindowWrapped) break;

    // The common case: the source and the whole run inside the window as it is.
    unsigned d = (wp - dist) & (WindowSize - 1);
    if (dist <= wp && n < WindowSize - wp) {
      CopyRun(w + wp, w + d, n, dist >= 8);
      wp += n;
      continue;
    }
    // Copy in runs that end at the window's end.
    do {
      unsigned run = WindowSize - (d > wp ? d : wp);
      if (run > n) run = n;
      n -= run;
      CopyRun(w + wp, w + d, run, d >= wp + 8 || wp >= d + 8);
      wp += run;
      d += run;
      if (wp == WindowSize) {
        wp = 0;
        if (!FlushWindow(WindowSize)) goto refused;
      }
      d &= WindowSize - 1;
    } while (n);
  }
refused:
  SAVE_BITS();
  WindowPos = wp;
  return ok;
}

// A stored block: LEN bytes from the next byte boundary, NLEN its complement.
// Whole bytes already in the bit buffer come first, then the input buffer directly.
static bool InflateStored() {
  LOAD_BITS();
  uint8_t *w = Window;
  uint32_t wp = WindowPos;
  bool ok = false;
  DUMPBITS(k & 7);
  NEEDBITS(32);
  unsigned len = (unsigned)b & 0xFFFF, nlen = (unsigned)(b >> 16) & 0xFFFF;
  DUMPBITS(32);
  if (PAST_END() || len != (~nlen & 0xFFFF)) goto done;
  while (len) {
    if (k >= 8) {
      if (k < ph + 8) goto done;
      w[wp++] = (uint8_t)b;
      DUMPBITS(8);
      len--;
    } else if (ip < il) {
      unsigned chunk = il - ip;
      if (chunk > len) chunk = len;
      if (chunk > WindowSize - wp) chunk = WindowSize - wp;
      memcpy(w + wp, in + ip, chunk);
      ip += chunk;
      wp += chunk;
      len -= chunk;
      b = 0;  // the bits above k mirrored the bytes just copied
    } else {
      NEEDBITS(8);
      continue;
    }
    if (wp == WindowSize) {
      wp = 0;
      if (!FlushWindow(WindowSize)) goto done;
    }
  }
  ok = true;
done:
  SAVE_BITS();
  WindowPos = wp;
  return ok;
}

// Frees the code-length, literal/length and distance tables of a dynamic block on every way out.
struct DynamicTables {
  HuffmanEntry *Lists[3] = {nullptr, nullptr, nullptr};
  ~DynamicTables() {
    for (HuffmanEntry *list : Lists) FreeHuffmanTables(list);
  }
};

// A dynamic block: the code-length code, the literal/length and distance code
// lengths it describes, then the block's codes.
static bool InflateDynamic() {
  DynamicTables tables;
  uint16_t lengths[321];
  unsigned nl, nd, nb, i;
  bool ok = false;
  {
    LOAD_BITS();
    NEEDBITS(14);
    nl = 257 + ((unsigned)b & 31);
    nd = 1 + ((unsigned)(b >> 5) & 31);
    nb = 4 + ((unsigned)(b >> 10) & 15);
    DUMPBITS(14);
    if (nl > 286 || nd > 30) goto header_done;
    for (i = 0; i < nb; i++) {
      NEEDBITS(3);
      lengths[CodeLengthOrder[i]] = (uint16_t)(b & 7);
      DUMPBITS(3);
    }
    for (; i < 19; i++) lengths[CodeLengthOrder[i]] = 0;

    {
      HuffmanEntry *table;
      int bits = 7;
      if (BuildHuffmanTable(lengths, 19, 19, nullptr, nullptr, &tables.Lists[0], &table, &bits) != HuffmanComplete ||
          !table)
        goto header_done;
      // The lookup bits cover every code of this set, so one level always decides.
      const unsigned mask = MaskBits[bits];
      unsigned total = nl + nd, previous = 0;
      i = 0;
      while (i < total) {
        NEEDBITS(bits);
        const HuffmanEntry *t = table + (b & mask);
        if (t->Op != 16) goto header_done;
        DUMPBITS((unsigned)t->Bits);
        unsigned symbol = t->Base, repeat, value;
        if (symbol < 16) {
          lengths[i++] = (uint16_t)symbol;
          previous = symbol;
          continue;
        }
        if (symbol == 16) {
          NEEDBITS(2);
          repeat = 3 + ((unsigned)b & 3);
          DUMPBITS(2);
          value = previous;
        } else if (symbol == 17) {
          NEEDBITS(3);
          repeat = 3 + ((unsigned)b & 7);
          DUMPBITS(3);
          value = previous = 0;
        } else {
          NEEDBITS(7);
          repeat = 11 + ((unsigned)b & 127);
          DUMPBITS(7);
          value = previous = 0;
        }
        if (repeat > total - i) goto header_done;
        while (repeat--) lengths[i++] = (uint16_t)value;
      }
      FreeHuffmanTables(tables.Lists[0]);
      tables.Lists[0] = nullptr;
      // Nothing has been written for this block yet, so faults of the header
      // are all taken here, where they stop the member.
      ok = !PAST_END() && lengths[256] != 0;
    }
  header_done:
    SAVE_BITS();
  }
  if (!ok) return false;

  HuffmanEntry *tl, *td;
  int bl = 9, bd = 6;
  if (BuildHuffmanTable(lengths, nl, 257, LengthBase, LengthExtra, &tables.Lists[1], &tl, &bl) != HuffmanComplete)
    return false;
  if (BuildHuffmanTable(lengths + nl, nd, 0, DistanceBase, DistanceExtra, &tables.Lists[2], &td, &bd) !=
      HuffmanComplete)
    return false;
  if (!td) {
    td = (HuffmanEntry *)NoDistanceCodes;
    bd = 0;
  }
  return InflateCodes(tl, td, bl, bd);
}

enum BlockResult { MoreBlocks, LastBlock, Stopped };

static BlockResult InflateBlock() {
  unsigned last, type;
  {
    LOAD_BITS();
    NEEDBITS(3);
    last = (unsigned)b & 1;
    type = (unsigned)(b >> 1) & 3;
    DUMPBITS(3);
    SAVE_BITS();
    if (PAST_END()) return Stopped;
  }
  bool ok = true;
  switch (type) {
    case 0: ok = InflateStored(); break;
    case 1: ok = InflateCodes(FixedLiteralTable, FixedDistanceTable, FixedLiteralBits, FixedDistanceBits); break;
    case 2: ok = InflateDynamic(); break;
    default: break;  // reserved type: an empty block
  }
  if (!ok) return Stopped;
  return last ? LastBlock : MoreBlocks;
}

void BuildFixedTables() {
  if (FixedLiteralTable) return;
  uint16_t lengths[288];
  unsigned i = 0;
  for (; i < 144; i++) lengths[i] = 8;
  for (; i < 256; i++) lengths[i] = 9;
  for (; i < 280; i++) lengths[i] = 7;
  for (; i < 288; i++) lengths[i] = 8;
  HuffmanEntry *list = nullptr;  // the fixed tables live as long as the process
  FixedLiteralBits = 7;
  BuildHuffmanTable(lengths, 288, 257, LengthBase, LengthExtra, &list, &FixedLiteralTable, &FixedLiteralBits);
  for (i = 0; i < 30; i++) lengths[i] = 5;
  list = nullptr;
  FixedDistanceBits = 5;
  BuildHuffmanTable(lengths, 30, 0, DistanceBase, DistanceExtra, &list, &FixedDistanceTable, &FixedDistanceBits);
}

DecodeResult Inflate() {
  BuildFixedTables();
  InputEnded = false;
  OutputRefused = false;
  BitBuffer = 0;
  BitCount = 0;
  OneBits = 0;
  InputPos = 0;
  InputLength = 0;
  WindowPos = 0;
  WindowWrapped = false;
  InputBuffer = (uint8_t *)AllocateMemory(InputBufferSize + 2);
  Window = (uint8_t *)AllocateMemory(WindowSize + 2);
  BlockResult block;
  do block = InflateBlock();
  while (block == MoreBlocks);
  if (WindowPos > 0 && !OutputRefused) FlushWindow(WindowPos);
  ReleaseMemory(Window);
  ReleaseMemory(InputBuffer);
  Window = nullptr;
  InputBuffer = nullptr;
  if (OutputRefused) return DecodeResult::OutputRefused;
  if (block == LastBlock) return DecodeResult::Done;
  return InputEnded ? DecodeResult::ArchiveEnded : DecodeResult::BadData;
}
