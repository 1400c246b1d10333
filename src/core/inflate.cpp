// inflate.cpp -- the deflate decoder (RFC 1951): bit input, stored/fixed/dynamic blocks, the 32 KB window.
#include "inflate.h"

#include <string.h>

#include "decrypt.h"
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
// Extra bits and base count of the code-length repeat symbols 16, 17 and 18.
static const uint8_t RepeatExtra[3] = {2, 3, 7};
static const uint8_t RepeatBase[3] = {3, 3, 11};

// Stands in for the distance table of a dynamic block that has no distance codes
// (its one-probe table is then all 0): any length code met there then fails as
// an invalid distance.
static const HuffmanEntry NoDistanceCodes[1] = {{99, 0, 0, nullptr}};

HuffmanEntry *FixedLiteralTable;
HuffmanEntry *FixedDistanceTable;
static int FixedLiteralBits;
static int FixedDistanceBits;

static MEMBER_STATE uint64_t BitBuffer;      // input bits not yet consumed; the next bit of the stream is bit 0
static MEMBER_STATE unsigned BitCount;       // valid bits in BitBuffer; the bits above may already hold the next input
static MEMBER_STATE unsigned OneBits;        // of those, how many (the top ones) stand in for data that has ended
static MEMBER_STATE uint8_t *InputBuffer;    // compressed bytes read from the archive, already decrypted
static MEMBER_STATE uint32_t InputPos;       // next byte to hand out from InputBuffer
static MEMBER_STATE uint32_t InputLength;    // bytes the last refill put into InputBuffer
// Room behind the window's piece for a match that starts in the piece's last
// byte, with the overrun of its last step.
enum { WindowSlack = 258 + 15 };
static MEMBER_STATE uint8_t *Window;         // the history (first WindowSize bytes), then the piece being decoded, then slack
static MEMBER_STATE uint32_t WindowPos;      // where the next output byte goes, WindowSize..2 * WindowSize
static MEMBER_STATE uint32_t WindowStart;    // the oldest byte a distance may reach: WindowSize until the first piece is out
static MEMBER_STATE bool InputEnded;         // ReadArchive gave nothing while compressed bytes were still due
static MEMBER_STATE bool OutputRefused;      // WriteOutput refused a piece: decoding stops

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
  DecryptData(InputBuffer, got);
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
// NEEDBITS(48) without a branch, for 8 bytes at hand: the load is harmless when
// k is already 48 or more (the bits above k already hold the next input); only
// ip and k depend on k, so the input is taken exactly as NEEDBITS would take
// it, and a stream followed by other bytes stops reading where it always did.
// Afterwards all 64 bits of b are input.
#define FILL48()                       \
  do {                                 \
    b |= Load64(in + ip) << k;         \
    unsigned low = 0u - (k < 48);      \
    ip += ((63 - k) >> 3) & low;       \
    k |= 56 & low;                     \
  } while (0)
#define DUMPBITS(n) (b >>= (n), k -= (n))
// True once a consumed bit lay beyond the end of the data.
#define PAST_END() (k < ph)

// Writes the piece ending at end (the window's bytes from WindowSize, at most
// WindowSize of them) out and through the CRC. A whole piece then slides down
// with what was decoded past it, so that the last WindowSize bytes of output
// are the history again. Returns where the next output byte goes, or 0 when the
// output refused the piece: the block routines then stop as at a fault.
static uint32_t FlushWindow(uint32_t end) {
  uint8_t *piece = Window + WindowSize;
  uint32_t count = end - WindowSize;
  if (count > WindowSize) count = WindowSize;
  if (!EmitOutput(piece, count)) {
    OutputRefused = true;
    return 0;
  }
  if (count < WindowSize) return end;
  memmove(Window, piece, end - WindowSize);
  WindowStart = 0;
  return end - WindowSize;
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

// Copies a match of n bytes from dist bytes back, as dst[i] = dst[i - dist] one
// byte after the other would: when dist < n, the bytes just written are read
// again, which repeats the last dist bytes. Words give the same bytes when dist
// is at least eight: each is loaded before it is stored, and the source never
// reaches the bytes a word stores. Two words a step take most matches in one;
// the last may run up to fifteen bytes past the match into bytes not yet output
// (the window's slack at most), which the following output rewrites.
static inline __attribute__((always_inline)) void CopyMatch(uint8_t *dst, unsigned dist, unsigned n) {
  const uint8_t *src = dst - dist;
  uint8_t *end = dst + n;
  if (dist >= 8) {
    do {
      Copy8(dst, src);
      Copy8(dst + 8, src + 8);
      dst += 16;
      src += 16;
    } while (dst < end);
    return;
  }
  do *dst++ = *src++;
  while (dst < end);
}

// The one-probe tables of the fast loop (see huffman.h), filled with the multi-level ones.
enum {
  FastLiteralBits = 10,  // most literal/length codes resolve in one probe
  FastDistanceBits = 8,  // and most distance codes
};
static MEMBER_STATE uint32_t DynamicFastLiterals[1 << FastLiteralBits];    // the current dynamic block's literal/length codes
static MEMBER_STATE uint32_t DynamicFastDistances[1 << FastDistanceBits];  // the current dynamic block's distance codes
static uint32_t FixedFastLiterals[1 << FastLiteralBits];      // the fixed literal/length codes
static uint32_t FixedFastDistances[1 << FastDistanceBits];    // the fixed distance codes

// Decodes literal/length and distance codes up to the end of the block, with the
// code sets' multi-level tables (tl, td; bl, bd lookup bits) and their one-probe
// tables (fl, fd). Returns false at the first invalid code, distance before the
// first output byte, or bit past the end of the data; the symbol that met it
// produces nothing.
static bool InflateCodes(const HuffmanEntry *tl, const HuffmanEntry *td, int bl, int bd, const uint32_t *fl,
                         const uint32_t *fd) {
  LOAD_BITS();
  uint8_t *const w = Window;
  uint8_t *out = w + WindowPos;
  const unsigned ml = MaskBits[bl], md = MaskBits[bd];
  const unsigned fml = MaskBits[FastLiteralBits], fmd = MaskBits[FastDistanceBits];
  bool ok = false;
  for (;;) {
    // A piece is written out before the next symbol once it is complete.
    if (out >= w + 2 * WindowSize) {
      uint32_t next = FlushWindow((uint32_t)(out - w));
      if (!next) break;
      out = w + next;
    }
    // The longest literal/length code with its extra bits and the longest distance
    // code with its extra bits take 15 + 5 + 15 + 13 bits: one fill per symbol.
    const HuffmanEntry *t;
    unsigned n, dist, e;
    if (il - ip >= 8) {
      // Far from the input's end: every symbol starts with FILL48(). Once a
      // symbol's bits are dropped, b still holds at least 16 bits of input, so
      // the next entry is looked up before the next fill, which leaves the
      // bottom bits as they are. Codes the one-probe tables resolve are decoded
      // here, the rest by the multi-level tables below.
      uint32_t f;
      FILL48();
      f = fl[b & fml];
      for (;;) {
        if (f & FastLiteral) {
          DUMPBITS((f >> 8) & 0xFF);
          *out++ = (uint8_t)(f >> 16);
          f = fl[b & fml];
        } else {
          if (!f) {
            t = tl + (b & ml);
            goto decode;
          }
          n = (f >> 16) + (((uint32_t)b & ~(~0u << (f & 0xFF))) >> ((f >> 8) & 0xFF));
          DUMPBITS(f & 0xFF);
          f = fd[b & fmd];
          if (!f) goto distance;
          dist = (f >> 16) + (((uint32_t)b & ~(~0u << (f & 0xFF))) >> ((f >> 8) & 0xFF));
          DUMPBITS(f & 0xFF);
          if ((uint32_t)(out - w) - dist < WindowStart) goto done;
          f = fl[b & fml];
          CopyMatch(out, dist, n);
          out += n;
        }
        if (il - ip < 8 || out >= w + 2 * WindowSize) break;
        FILL48();
      }
      continue;
    }
    NEEDBITS(48);
    t = tl + (b & ml);
  decode:
    t = DecodeSymbol(t, b, k);
    if (!t) break;
    e = (uint8_t)t->Op;
    if (e == 16) {
      if (PAST_END()) break;
      *out++ = (uint8_t)t->Base;
      continue;
    }
    if (e == 15) {
      ok = !PAST_END();
      break;
    }

    n = t->Base + ((unsigned)b & MaskBits[e]);
    DUMPBITS(e);
  distance:
    t = DecodeSymbol(td + (b & md), b, k);
    if (!t) break;
    e = (uint8_t)t->Op;
    dist = t->Base + ((unsigned)b & MaskBits[e]);
    DUMPBITS(e);
    if (PAST_END() || (uint32_t)(out - w) - dist < WindowStart) break;
    CopyMatch(out, dist, n);
    out += n;
  }
done:
  SAVE_BITS();
  WindowPos = (uint32_t)(out - w);
  return ok;
}

// A stored block: LEN bytes from the next byte boundary, NLEN its complement.
// Whole bytes already in the bit buffer come first, then the input buffer directly.
// The boundary is counted on the input bits alone: once the data has ended, the
// one-bits that fill b up to 64 need not be a whole number of bytes.
static bool InflateStored() {
  LOAD_BITS();
  uint8_t *w = Window;
  uint32_t wp = WindowPos;
  bool ok = false;
  DUMPBITS((k - ph) & 7);
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
      if (chunk > 2 * WindowSize - wp) chunk = 2 * WindowSize - wp;
      memcpy(w + wp, in + ip, chunk);
      ip += chunk;
      wp += chunk;
      len -= chunk;
      b = 0;  // the bits above k mirrored the bytes just copied
    } else {
      NEEDBITS(8);
      continue;
    }
    if (wp == 2 * WindowSize && !(wp = FlushWindow(wp))) goto done;
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
        unsigned symbol = t->Base;
        if (symbol < 16) {
          lengths[i++] = (uint16_t)symbol;
          previous = symbol;
          continue;
        }
        // 16 repeats the previous length 3..6 times, 17 a zero 3..10 times, 18 a zero 11..138 times.
        symbol -= 16;
        unsigned extra = RepeatExtra[symbol];
        NEEDBITS(extra);
        unsigned repeat = RepeatBase[symbol] + ((unsigned)b & MaskBits[extra]);
        DUMPBITS(extra);
        if (symbol) previous = 0;
        if (repeat > total - i) goto header_done;
        while (repeat--) lengths[i++] = (uint16_t)previous;
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
  if (BuildHuffmanTable(lengths, nl, 257, LengthBase, LengthExtra, &tables.Lists[1], &tl, &bl, DynamicFastLiterals,
                        FastLiteralBits) != HuffmanComplete)
    return false;
  if (BuildHuffmanTable(lengths + nl, nd, 0, DistanceBase, DistanceExtra, &tables.Lists[2], &td, &bd,
                        DynamicFastDistances, FastDistanceBits) != HuffmanComplete)
    return false;
  if (!td) {
    td = (HuffmanEntry *)NoDistanceCodes;
    bd = 0;
    memset(DynamicFastDistances, 0, sizeof DynamicFastDistances);
  }
  return InflateCodes(tl, td, bl, bd, DynamicFastLiterals, DynamicFastDistances);
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
    case 1:
      ok = InflateCodes(FixedLiteralTable, FixedDistanceTable, FixedLiteralBits, FixedDistanceBits, FixedFastLiterals,
                        FixedFastDistances);
      break;
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
  BuildHuffmanTable(lengths, 288, 257, LengthBase, LengthExtra, &list, &FixedLiteralTable, &FixedLiteralBits,
                    FixedFastLiterals, FastLiteralBits);
  for (i = 0; i < 30; i++) lengths[i] = 5;
  list = nullptr;
  FixedDistanceBits = 5;
  BuildHuffmanTable(lengths, 30, 0, DistanceBase, DistanceExtra, &list, &FixedDistanceTable, &FixedDistanceBits,
                    FixedFastDistances, FastDistanceBits);
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
  WindowPos = WindowSize;
  WindowStart = WindowSize;
  InputBuffer = (uint8_t *)AllocateMemory(InputBufferSize + 2);
  Window = (uint8_t *)AllocateMemory(2 * WindowSize + WindowSlack);
  BlockResult block;
  do block = InflateBlock();
  while (block == MoreBlocks);
  if (WindowPos > WindowSize && !OutputRefused) FlushWindow(WindowPos);
  ReleaseMemory(Window);
  ReleaseMemory(InputBuffer);
  Window = nullptr;
  InputBuffer = nullptr;
  if (OutputRefused) return DecodeResult::OutputRefused;
  if (block == LastBlock) return DecodeResult::Done;
  return InputEnded ? DecodeResult::ArchiveEnded : DecodeResult::BadData;
}
