// lzmadec.cpp -- the LZMA decoder: range decoder, literal/match/rep coding, the circular dictionary.
#include "lzmadec.h"

#include <string.h>

#include "decrypt.h"
#include "sfxcore.h"
#include "zipformat.h"

namespace {

enum : uint32_t {
  HeaderSize = 9,          // version, properties size, the 5 property bytes
  InputSize = 1 << 16,     // compressed bytes read (and decrypted) at a time
  InputSlack = 64,         // a symbol reads at most 48 bytes: the decoder refills before it has fewer
  MinDictionary = 4096,    // the smallest dictionary buffer, as other decoders round up to
  States = 12,             // the coder's state machine: what the last four symbols were
  ProbInit = 1024,         // every probability starts at one half (of 2048)
  MarkerDistance = 0xFFFFFFFF,
  // Offsets of the probability groups in one array; [16] is per position state.
  IsMatch = 0,                        // [state][16]
  IsRep = IsMatch + States * 16,      // [state]
  IsRepG0 = IsRep + States,           // [state]
  IsRepG1 = IsRepG0 + States,         // [state]
  IsRepG2 = IsRepG1 + States,         // [state]
  IsRep0Long = IsRepG2 + States,      // [state][16]
  PosSlot = IsRep0Long + States * 16, // [4 length states][64]
  SpecPos = PosSlot + 4 * 64,         // reverse trees of the distances 4..127
  Align = SpecPos + 115,              // the low 4 bits of distances from 128
  LenChoice = 0, LenChoice2 = 1, LenLow = 2, LenMid = LenLow + 16 * 8, LenHigh = LenMid + 16 * 8,
  LenCoder = Align + 16,              // match lengths: two choices, [16][8] low, [16][8] mid, 256 high
  RepLenCoder = LenCoder + LenHigh + 256,  // the same for rep matches
  Literal = RepLenCoder + LenHigh + 256,   // 0x300 for each of 2^(lc + lp) contexts
};

// The state after a literal.
const uint8_t NextAfterLiteral[States] = {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 4, 5};

MEMBER_STATE uint8_t *Input;              // compressed bytes already decrypted, InputSize + InputSlack
MEMBER_STATE const uint8_t *InputEnd;     // the end of the member's bytes in Input; zeros follow once it has no more
MEMBER_STATE const uint8_t *InputSafe;    // below this at least InputSlack bytes follow (or the member has ended)
MEMBER_STATE bool InputEnded;             // ReadArchive gave nothing while member bytes were still due

// Reads up to count member bytes (no more than CompressedLeft), decrypted,
// across short reads. Returns how many it got: fewer when the member or the
// archive (InputEnded) ran out.
uint32_t ReadMember(uint8_t *to, uint32_t count) {
  uint32_t total = 0;
  while (total < count && CompressedLeft > 0) {
    uint32_t want = count - total;
    if (CompressedLeft < want) want = (uint32_t)CompressedLeft;
    uint32_t got = ReadArchive(to + total, want);
    if (got > want) got = want;
    if (!got) {
      InputEnded = true;
      break;
    }
    DecryptData(to + total, got);
    CompressedLeft -= got;
    total += got;
  }
  return total;
}

// Moves the unread bytes from in to the front of Input and fills it up. Once
// the member has nothing more, zeros stand behind InputEnd so that a symbol can
// always be decoded; a symbol that read them is then refused. Returns Input.
const uint8_t *Refill(const uint8_t *in) {
  uint32_t kept = (uint32_t)(InputEnd - in);
  memmove(Input, in, kept);
  uint32_t got = kept + ReadMember(Input + kept, InputSize - kept);
  InputEnd = Input + got;
  if (CompressedLeft > 0 && !InputEnded) {
    InputSafe = InputEnd - InputSlack;  // a full buffer: InputSize - InputSlack bytes at least
  } else {
    memset(Input + got, 0, InputSlack);
    InputSafe = Input + InputSize + InputSlack;  // never refill again
  }
  return Input;
}

// Hands a piece of output on (EmitOutput); false when it was refused.
bool Flush(const uint8_t *piece, uint32_t n) {
  return !n || EmitOutput(piece, n);
}

// Copies n bytes to dict[pos] from rep0 + 1 bytes back, as a byte-by-byte copy
// would (a source close behind repeats itself). The source wraps at the end of
// the dictionary at most once, which splits the copy in two runs; the
// destination never does. Returns the position after the copy.
inline uint32_t CopyMatch(uint8_t *dict, uint32_t dictSize, uint32_t pos, uint32_t rep0, uint32_t n) {
  uint32_t from = pos > rep0 ? pos - rep0 - 1 : pos + dictSize - rep0 - 1;
  while (n) {
    uint32_t run = dictSize - from < n ? dictSize - from : n;
    uint8_t *d = dict + pos;
    const uint8_t *s = dict + from;
    if (run <= 32 || (d > s && (uint32_t)(d - s) < run)) {
      for (uint32_t i = 0; i < run; i++) d[i] = s[i];
    } else {
      memmove(d, s, run);
    }
    pos += run;
    n -= run;
    from = 0;
  }
  return pos;
}

// The range decoder: a local of LzmaDecode that the steps below take by
// reference. Natively they are inlined and its fields live in registers; the
// stub's size-optimised build calls them instead, which halves the code.
struct RangeDecoder {
  uint32_t Range;   // width of the current interval
  uint32_t Code;    // where the input lies in it
  const uint8_t *In;  // next input byte
};
#ifdef __OPTIMIZE_SIZE__
#define STEP __attribute__((noinline))
#define UNROLL
#else
#define STEP inline __attribute__((always_inline))
#define UNROLL _Pragma("GCC unroll 8")
#endif

STEP void Normalize(RangeDecoder &rc) {
  if (rc.Range < (1u << 24)) {
    rc.Range <<= 8;
    rc.Code = (rc.Code << 8) | *rc.In++;
  }
}

// Decodes one bit whose chance of being 0 is *p / 2048, and adapts *p.
STEP uint32_t DecodeBit(RangeDecoder &rc, uint16_t *p) {
  Normalize(rc);
  uint32_t bound = (rc.Range >> 11) * *p;
  if (rc.Code < bound) {
    rc.Range = bound;
    *p = (uint16_t)(*p + ((2048 - *p) >> 5));
    return 0;
  }
  rc.Range -= bound;
  rc.Code -= bound;
  *p = (uint16_t)(*p - (*p >> 5));
  return 1;
}

// A bit tree of n bits at probs: the symbol, most significant bit first.
STEP uint32_t DecodeTree(RangeDecoder &rc, uint16_t *probs, unsigned n) {
  uint32_t m = 1;
  UNROLL for (unsigned i = 0; i < n; i++) m = (m << 1) | DecodeBit(rc, probs + m);
  return m - (1u << n);
}

// A reverse bit tree of n bits: least significant bit first.
STEP uint32_t DecodeReverseTree(RangeDecoder &rc, uint16_t *probs, unsigned n) {
  uint32_t m = 1, symbol = 0;
  UNROLL for (unsigned i = 0; i < n; i++) {
    uint32_t bit = DecodeBit(rc, probs + m);
    m = (m << 1) | bit;
    symbol |= bit << i;
  }
  return symbol;
}

// A match length less 2 (0..271) from the length coder at probs.
STEP uint32_t DecodeLength(RangeDecoder &rc, uint16_t *probs, uint32_t posState) {
  if (!DecodeBit(rc, probs + LenChoice)) return DecodeTree(rc, probs + LenLow + posState * 8, 3);
  if (!DecodeBit(rc, probs + LenChoice2)) return 8 + DecodeTree(rc, probs + LenMid + posState * 8, 3);
  return 16 + DecodeTree(rc, probs + LenHigh, 8);
}

// A match distance less 1 for a length less 2 of len0; MarkerDistance is the end marker.
STEP uint32_t DecodeDistance(RangeDecoder &rc, uint16_t *probs, uint32_t len0) {
  uint32_t slot = DecodeTree(rc, probs + PosSlot + (len0 < 3 ? len0 : 3) * 64, 6);
  if (slot < 4) return slot;
  unsigned direct = (slot >> 1) - 1;
  uint32_t dist = (2 | (slot & 1)) << direct;
  if (slot < 14) return dist + DecodeReverseTree(rc, probs + SpecPos + dist - slot, direct);
  // The middle bits have no probabilities: each halves the range.
  uint32_t bits = 0;
  direct -= 4;
  do {
    Normalize(rc);
    rc.Range >>= 1;
    rc.Code -= rc.Range;
    uint32_t t = 0 - (rc.Code >> 31);  // all ones when the bit is 0
    rc.Code += rc.Range & t;
    bits = (bits << 1) + (t + 1);
  } while (--direct);
  return dist + (bits << 4) + DecodeReverseTree(rc, probs + Align, 4);
}

// A literal from its 0x300 probabilities. After a match the byte at rep0
// predicts it bit by bit, until the first bit where they differ.
STEP uint32_t DecodeLiteral(RangeDecoder &rc, uint16_t *probs, bool afterMatch, uint32_t match) {
  if (!afterMatch) return DecodeTree(rc, probs, 8);
  uint32_t symbol = 1, offset = 0x100;
  UNROLL for (int i = 0; i < 8; i++) {
    match <<= 1;
    uint32_t matchBit = match & offset;
    uint32_t bit = DecodeBit(rc, probs + offset + matchBit + symbol);
    symbol = (symbol << 1) | bit;
    offset &= bit ? matchBit : ~matchBit;
  }
  return symbol - 0x100;
}

// What persists of an LZMA coder between the runs of symbols that continue it:
// the probabilities, the dictionary and the coder's state. A method-14 member
// uses one for one run; a solid block keeps one across its chunks and members.
struct Coder {
  uint16_t *Probs;
  unsigned Lc, Lp, Pb;
  uint8_t *Dict;
  uint32_t DictSize;
  uint32_t Pos;       // where the next byte goes in Dict
  bool Wrapped;       // Dict has filled once: every byte of it is history
  uint32_t State;     // 0..6 after a literal, 7..11 after a match
  uint32_t Rep0, Rep1, Rep2, Rep3;  // the last four distances less 1, latest first
};

// Allocates c's probabilities (for its lc and lp), Input and a dictionary of
// `window` bytes in one block; null when the system cannot give it.
void *AllocateCoder(Coder &c, uint64_t window) {
  const uint32_t probCount = Literal + (0x300u << (c.Lc + c.Lp));
  uint64_t bytes = probCount * 2ull + InputSize + InputSlack + window;
  // Dictionary positions are 32-bit; a 32-bit system cannot give 4 GB anyway.
  void *block = window > 0xFFFF0000u || bytes != (size_t)bytes ? nullptr : TryAllocateMemory((size_t)bytes);
  if (!block) return nullptr;
  c.Probs = (uint16_t *)block;
  Input = (uint8_t *)(c.Probs + probCount);
  c.Dict = Input + InputSize + InputSlack;
  c.DictSize = (uint32_t)window;
  return block;
}

// Sets the coder's state and probabilities as at the start of a stream.
void ResetState(Coder &c) {
  const uint32_t probCount = Literal + (0x300u << (c.Lc + c.Lp));
  for (uint32_t i = 0; i < probCount; i++) c.Probs[i] = ProbInit;
  c.State = c.Rep0 = c.Rep1 = c.Rep2 = c.Rep3 = 0;
}

// Empties the dictionary: the next byte is the first of the stream.
void ResetDictionary(Coder &c) {
  c.Pos = 0;
  c.Wrapped = false;
  c.Dict[c.DictSize - 1] = 0;  // the "previous byte" of the first literal
}

// Decodes symbols from the range coder that starts at Input (after Refill)
// into c's dictionary until outLeft more bytes are out, written in pieces.
// Method 14 (chunk false): the stream ends there with its code at 0, or with an
// end marker behind it; a match still copying runs past the size. An LZMA2
// chunk (chunk true) is whole in Input and ends exactly with its last byte as
// its output is complete. Results as LzmaDecode's; CompressedLeft gets back the
// bytes of Input the stream did not use.
DecodeResult DecodeSymbols(Coder &c, uint64_t outLeft, bool chunk) {
  RangeDecoder rc = {0xFFFFFFFF, 0, Input};
  const uint8_t *inSafe = InputSafe, *inEnd = InputEnd;
  for (int i = 0; i < 5; i++) rc.Code = (rc.Code << 8) | *rc.In++;
  uint16_t *const probs = c.Probs;
  uint8_t *const dict = c.Dict;
  const uint32_t dictSize = c.DictSize, lc = c.Lc;
  DecodeResult result = DecodeResult::BadData;
  uint32_t state = c.State;
  uint32_t rep0 = c.Rep0, rep1 = c.Rep1, rep2 = c.Rep2, rep3 = c.Rep3;
  uint32_t pos = c.Pos;      // where the next byte goes in dict
  uint32_t flushed = pos;    // dict[flushed, pos) is decoded but not yet written
  uint32_t limit = pos;      // the next stop: the piece is full, the dictionary ends, or the size is reached
  uint32_t pending = 0;      // bytes of the last match still to copy once the piece is written
  bool wrapped = c.Wrapped;
  bool atSize = false;       // all bytes are out; only an end marker may follow
  const uint32_t pbMask = (1u << c.Pb) - 1, lpMask = (1u << c.Lp) - 1;
  if (rc.In > inEnd) goto input_short;
  if (Input[0] != 0) goto done;

  // Each pass decodes one symbol. Input past inEnd is zeros: a symbol that read
  // any is refused before its bytes reach the dictionary.
  for (;;) {
    if (rc.In >= inSafe) {
      rc.In = Refill(rc.In);
      inSafe = InputSafe;
      inEnd = InputEnd;
    }
    if (pos >= limit) {
      if (atSize) goto done;  // a literal or match where only a marker may stand
      if (!Flush(dict + flushed, pos - flushed)) {
        result = DecodeResult::OutputRefused;
        goto done;
      }
      outLeft -= pos - flushed;
      if (pos == dictSize) {
        pos = 0;
        wrapped = true;
      }
      flushed = pos;
      if (!outLeft) {
        // The stream may end here with all of its bytes read (code 0), or go on
        // with an end marker; a match still copying runs past the size.
        if (pending) goto done;
        Normalize(rc);
        if (rc.In > inEnd) goto input_short;
        if (!rc.Code && (!chunk || rc.In == inEnd)) {
          result = DecodeResult::Done;
          goto done;
        }
        if (chunk) goto done;
        atSize = true;
        limit = pos;
      } else {
        uint32_t room = dictSize - pos < (uint32_t)LzmaPieceSize ? dictSize - pos : (uint32_t)LzmaPieceSize;
        limit = pos + (outLeft < room ? (uint32_t)outLeft : room);
        if (pending) {
          uint32_t n = pending < limit - pos ? pending : limit - pos;
          pending -= n;
          pos = CopyMatch(dict, dictSize, pos, rep0, n);
          continue;
        }
      }
    }
    const uint32_t posState = pos & pbMask;
    uint32_t len;
    if (!DecodeBit(rc, probs + IsMatch + state * 16 + posState)) {
      uint32_t previous = dict[(pos ? pos : dictSize) - 1];
      uint16_t *lit = probs + Literal + 0x300 * (((pos & lpMask) << lc) + (previous >> (8 - lc)));
      uint32_t match = state < 7 ? 0 : dict[pos > rep0 ? pos - rep0 - 1 : pos + dictSize - rep0 - 1];
      uint32_t symbol = DecodeLiteral(rc, lit, state >= 7, match);
      if (rc.In > inEnd) goto input_short;
      dict[pos++] = (uint8_t)symbol;
      state = NextAfterLiteral[state];
      continue;
    }
    if (!DecodeBit(rc, probs + IsRep + state)) {
      // A match: a length, then a distance; the rep distances move up.
      len = DecodeLength(rc, probs + LenCoder, posState);
      uint32_t dist = DecodeDistance(rc, probs, len);
      if (rc.In > inEnd) goto input_short;
      if (dist == MarkerDistance) {
        // The marker is only taken where the size ends the stream anyway.
        if (!atSize) goto done;
        Normalize(rc);
        if (rc.In > inEnd) goto input_short;
        if (!rc.Code) result = DecodeResult::Done;
        goto done;
      }
      rep3 = rep2;
      rep2 = rep1;
      rep1 = rep0;
      rep0 = dist;
      state = state < 7 ? 7 : 10;
    } else if (!pos && !wrapped) {
      // A rep match before any output: refused at its first bit, as liblzma does.
      if (rc.In > inEnd) goto input_short;
      goto done;
    } else if (!DecodeBit(rc, probs + IsRepG0 + state)) {
      if (!DecodeBit(rc, probs + IsRep0Long + state * 16 + posState)) {
        len = 0xFFFFFFFF;  // a single byte at rep0: 1 once the 2 below is added
        state = state < 7 ? 9 : 11;
      } else {
        len = DecodeLength(rc, probs + RepLenCoder, posState);
        state = state < 7 ? 8 : 11;
      }
    } else {
      // A match at rep1..rep3, which moves to the front.
      uint32_t dist;
      if (!DecodeBit(rc, probs + IsRepG1 + state)) {
        dist = rep1;
      } else {
        if (!DecodeBit(rc, probs + IsRepG2 + state)) {
          dist = rep2;
        } else {
          dist = rep3;
          rep3 = rep2;
        }
        rep2 = rep1;
      }
      rep1 = rep0;
      rep0 = dist;
      len = DecodeLength(rc, probs + RepLenCoder, posState);
      state = state < 7 ? 8 : 11;
    }
    len += 2;
    if (rc.In > inEnd) goto input_short;
    if (rep0 >= (wrapped ? dictSize : pos)) goto done;
    // The copy stops at the limit; the rest waits for the piece to be written.
    uint32_t n = len < limit - pos ? len : limit - pos;
    pending = len - n;
    pos = CopyMatch(dict, dictSize, pos, rep0, n);
  }

input_short:
  result = InputEnded ? DecodeResult::ArchiveEnded : DecodeResult::BadData;
done:
  // What came before a fault still goes out; past the size nothing is pending.
  if (result == DecodeResult::BadData || result == DecodeResult::ArchiveEnded)
    if (!atSize && !Flush(dict + flushed, pos - flushed)) result = DecodeResult::OutputRefused;
  if (rc.In <= inEnd) CompressedLeft += inEnd - rc.In;
  c.State = state;
  c.Rep0 = rep0, c.Rep1 = rep1, c.Rep2 = rep2, c.Rep3 = rep3;
  c.Pos = pos;
  c.Wrapped = wrapped;
  return result;
}

}  // namespace


DecodeResult LzmaDecode(uint64_t uncompressedSize) {
  InputEnded = false;
  uint8_t header[HeaderSize];
  if (ReadMember(header, HeaderSize) < HeaderSize)
    return InputEnded ? DecodeResult::ArchiveEnded : DecodeResult::BadData;
  unsigned properties = header[4];
  if (GetLE16(header + 2) != 5 || properties >= 9 * 5 * 5) return DecodeResult::BadData;
  Coder c;
  c.Lc = properties % 9, c.Lp = properties / 9 % 5, c.Pb = properties / 45;

  // Distances never reach beyond the output, so a dictionary larger than the
  // member buys nothing. Declared sizes round up to 16 bytes, as other decoders
  // allocate them: a distance they take is taken here too. The buffer is then a
  // multiple of 16, so window positions give the position bits even where it
  // wraps (a buffer of just the member's size wraps as its end marker comes).
  uint64_t window = ((uint64_t)GetLE32(header + 5) + 15) & ~(uint64_t)15;
  if (window > uncompressedSize) window = (uncompressedSize + 15) & ~(uint64_t)15;
  if (window < MinDictionary) window = MinDictionary;
  void *block = AllocateCoder(c, window);
  if (!block) return DecodeResult::NoMemory;
  ResetState(c);
  ResetDictionary(c);
  InputEnd = Input;
  Refill(Input);
  DecodeResult result = DecodeSymbols(c, uncompressedSize, false);
  ReleaseMemory(block);
  Input = nullptr;
  return result;
}

namespace {

// The solid block being decoded: its coder lives from the member that opens the
// block to the next one that does (or SolidRelease).
enum class BlockState : uint8_t { None, Open, Broken, NoMemory };
MEMBER_STATE BlockState Block = BlockState::None;
MEMBER_STATE void *BlockMemory;         // the coder's probabilities, Input and dictionary
MEMBER_STATE Coder BlockCoder;
MEMBER_STATE bool NeedProperties;       // an LZMA chunk must set lc/lp/pb before any is decoded
MEMBER_STATE bool NeedDictionaryReset;  // the block's first chunk must reset the dictionary

enum : uint32_t {
  MaxDictionaryCode = 40,  // the LZMA2 dictionary-size codes 0..40 (40: 4 GiB less 1)
  ChunkReset = 0xE0,       // LZMA chunks from here reset the dictionary (and set properties)
  ChunkProperties = 0xC0,  // from here they carry a properties byte (and reset the state)
  ChunkStateReset = 0xA0,  // from here they reset the state
};

// Decodes the chunks of one solid member into BlockCoder until the member's
// data ends; see SolidDecode.
DecodeResult DecodeChunks(uint64_t outLeft) {
  Coder &c = BlockCoder;
  for (;;) {
    if (!CompressedLeft) return outLeft ? DecodeResult::BadData : DecodeResult::Done;
    // The chunk's header: the control byte, the unpacked size less 1 (its low
    // 16 bits; an LZMA chunk keeps the high 5 in the control byte), for an LZMA
    // chunk the packed size less 1 and maybe the properties byte.
    uint8_t h[6];
    if (!ReadMember(h, 1)) return InputEnded ? DecodeResult::ArchiveEnded : DecodeResult::BadData;
    const uint8_t control = h[0];
    if (control == 0 || (control > 2 && control < 0x80)) return DecodeResult::BadData;  // a member holds no end marker
    uint32_t size = control >= 0x80 ? 5u + (control >= ChunkProperties) : 3u;
    if (ReadMember(h + 1, size - 1) < size - 1)
      return InputEnded ? DecodeResult::ArchiveEnded : DecodeResult::BadData;
    if (control == 1 || control >= ChunkReset) {
      ResetDictionary(c);
      NeedDictionaryReset = false;
      NeedProperties = true;
    } else if (NeedDictionaryReset) {
      return DecodeResult::BadData;
    }
    uint32_t unpacked = (control >= 0x80 ? (control & 0x1Fu) << 16 : 0) + (h[1] << 8 | h[2]) + 1u;
    if (unpacked > outLeft) return DecodeResult::BadData;  // a chunk never spans members
    outLeft -= unpacked;
    if (control < 0x80) {
      // Stored bytes go through the dictionary, which they extend.
      while (unpacked) {
        uint32_t n = c.DictSize - c.Pos < unpacked ? c.DictSize - c.Pos : unpacked;
        if (ReadMember(c.Dict + c.Pos, n) < n) return InputEnded ? DecodeResult::ArchiveEnded : DecodeResult::BadData;
        if (!Flush(c.Dict + c.Pos, n)) return DecodeResult::OutputRefused;
        unpacked -= n;
        c.Pos += n;
        if (c.Pos == c.DictSize) c.Pos = 0, c.Wrapped = true;
      }
      continue;
    }
    if (control >= ChunkProperties) {
      unsigned properties = h[5];
      if (properties >= 9 * 5 * 5) return DecodeResult::BadData;
      c.Lc = properties % 9, c.Lp = properties / 9 % 5, c.Pb = properties / 45;
      if (c.Lc + c.Lp > 4) return DecodeResult::BadData;  // the probabilities are sized for lc + lp = 4
      NeedProperties = false;
    } else if (NeedProperties) {
      return DecodeResult::BadData;
    }
    if (control >= ChunkStateReset) ResetState(c);
    // The chunk's packed bytes, 64 KiB at most, fill Input whole.
    uint32_t packed = (h[3] << 8 | h[4]) + 1u;
    int64_t behind = CompressedLeft > packed ? CompressedLeft - packed : 0;
    if (CompressedLeft > packed) CompressedLeft = packed;
    InputEnd = Input;
    Refill(Input);
    CompressedLeft += behind;
    DecodeResult result = DecodeSymbols(c, unpacked, true);
    if (result != DecodeResult::Done) return result;
  }
}

}  // namespace

DecodeResult SolidDecode(uint64_t uncompressedSize) {
  InputEnded = false;
  uint8_t head;
  if (!ReadMember(&head, 1)) return InputEnded ? DecodeResult::ArchiveEnded : DecodeResult::BadData;
  if (head & SolidOpensBlock) {
    SolidRelease();
    unsigned code = head & ~(unsigned)SolidOpensBlock;
    if (code > MaxDictionaryCode) return DecodeResult::BadData;
    uint64_t window = (uint64_t)(2 | (code & 1)) << (code / 2 + 11);
    Coder &c = BlockCoder;
    c.Lc = c.Lp = 2;  // room for any lc + lp up to 4
    BlockMemory = AllocateCoder(c, window);
    Block = BlockMemory ? BlockState::Open : BlockState::NoMemory;
    NeedProperties = NeedDictionaryReset = true;
  }
  if (Block != BlockState::Open) return Block == BlockState::NoMemory ? DecodeResult::NoMemory : DecodeResult::BadData;
  Input = (uint8_t *)(BlockCoder.Probs + Literal + (0x300u << 4));
  DecodeResult result = DecodeChunks(uncompressedSize);
  if (result != DecodeResult::Done) Block = BlockState::Broken;
  return result;
}

void SolidMemberFailed() {
  if (Block == BlockState::Open) Block = BlockState::Broken;
}

void SolidRelease() {
  ReleaseMemory(BlockMemory);
  BlockMemory = nullptr;
  Block = BlockState::None;
}
