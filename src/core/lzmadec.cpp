// lzmadec.cpp -- the LZMA decoder: range decoder, literal/match/rep coding, the circular dictionary.
#include "lzmadec.h"

#include <string.h>

#include "decrypt.h"
#include "sfxcore.h"

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

uint8_t *Input;              // compressed bytes already decrypted, InputSize + InputSlack
const uint8_t *InputEnd;     // the end of the member's bytes in Input; zeros follow once it has no more
const uint8_t *InputSafe;    // below this at least InputSlack bytes follow (or the member has ended)
bool InputEnded;             // ReadArchive gave nothing while member bytes were still due

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

}  // namespace

DecodeResult LzmaDecode(uint64_t uncompressedSize) {
  InputEnded = false;
  uint8_t header[HeaderSize];
  if (ReadMember(header, HeaderSize) < HeaderSize)
    return InputEnded ? DecodeResult::ArchiveEnded : DecodeResult::BadData;
  unsigned properties = header[4];
  if (GetLE16(header + 2) != 5 || properties >= 9 * 5 * 5) return DecodeResult::BadData;
  const unsigned lc = properties % 9, lp = properties / 9 % 5, pb = properties / 45;

  // Distances never reach beyond the output, so a dictionary larger than the
  // member buys nothing. Declared sizes round up to 16 bytes, as other decoders
  // allocate them: a distance they take is taken here too. The buffer is then a
  // multiple of 16, so window positions give the position bits even where it
  // wraps (a buffer of just the member's size wraps as its end marker comes).
  uint64_t window = ((uint64_t)GetLE32(header + 5) + 15) & ~(uint64_t)15;
  if (window > uncompressedSize) window = (uncompressedSize + 15) & ~(uint64_t)15;
  if (window < MinDictionary) window = MinDictionary;
  const uint32_t probCount = Literal + (0x300u << (lc + lp));
  uint64_t bytes = probCount * 2ull + InputSize + InputSlack + window;
  // Dictionary positions are 32-bit; a 32-bit system cannot give 4 GB anyway.
  void *block = window > 0xFFFF0000u || bytes != (size_t)bytes ? nullptr : TryAllocateMemory((size_t)bytes);
  if (!block) return DecodeResult::NoMemory;
  uint16_t *const probs = (uint16_t *)block;
  for (uint32_t i = 0; i < probCount; i++) probs[i] = ProbInit;
  Input = (uint8_t *)(probs + probCount);
  uint8_t *const dict = Input + InputSize + InputSlack;
  const uint32_t dictSize = (uint32_t)window;
  dict[dictSize - 1] = 0;  // the "previous byte" of the first literal

  InputEnd = Input;
  RangeDecoder rc = {0xFFFFFFFF, 0, Refill(Input)};
  const uint8_t *inSafe = InputSafe, *inEnd = InputEnd;
  for (int i = 0; i < 5; i++) rc.Code = (rc.Code << 8) | *rc.In++;
  DecodeResult result = DecodeResult::BadData;
  uint32_t state = 0;        // 0..6 after a literal, 7..11 after a match
  uint32_t rep0 = 0, rep1 = 0, rep2 = 0, rep3 = 0;  // the last four distances less 1, latest first
  uint32_t pos = 0;          // where the next byte goes in dict
  uint32_t flushed = 0;      // dict[flushed, pos) is decoded but not yet written
  uint32_t limit = 0;        // the next stop: the piece is full, the dictionary ends, or the size is reached
  uint32_t pending = 0;      // bytes of the last match still to copy once the piece is written
  uint64_t outLeft = uncompressedSize;  // bytes still due, those in dict[flushed, pos) included
  bool wrapped = false;      // the dictionary has filled once: every byte of it is history
  bool atSize = false;       // all bytes are out; only an end marker may follow
  const uint32_t pbMask = (1u << pb) - 1, lpMask = (1u << lp) - 1;
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
        if (!rc.Code) {
          result = DecodeResult::Done;
          goto done;
        }
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
  ReleaseMemory(block);
  Input = nullptr;
  return result;
}
