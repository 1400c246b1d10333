// lzmadec.cpp -- the LZMA decoder: range decoder, literal/match/rep coding, the circular dictionary.
#include "lzmadec.h"

#include <string.h>

#include "crc32.h"
#include "crypt.h"
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
    if (EntryEncrypted) DecryptBuffer(to + total, got);
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
  InputSafe = InputEnd - InputSlack;
  if (CompressedLeft <= 0 || InputEnded) {
    memset(Input + got, 0, InputSlack);
    InputSafe = Input + InputSize + InputSlack;  // never refill again
  }
  return Input;
}

// Writes a piece of output and folds it into EntryCrc; false when it was refused.
bool Flush(const uint8_t *piece, uint32_t n) {
  if (!n) return true;
  if (!WriteOutput(piece, n)) return false;
  UpdateCrcBuffer(piece, (int32_t)n, EntryCrc);
  return true;
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

}  // namespace

// The range decoder lives in locals of LzmaDecode: range, code, in.
#define NORMALIZE()                           \
  if (range < (1u << 24)) {                   \
    range <<= 8;                              \
    code = (code << 8) | *in++;               \
  }
// Decodes one bit with probability *p of a zero, runs zero or one, adapts *p.
#define BIT(p, zero, one)                          \
  do {                                             \
    uint16_t *bp_ = (p);                           \
    NORMALIZE();                                   \
    uint32_t bound_ = (range >> 11) * *bp_;        \
    if (code < bound_) {                           \
      range = bound_;                              \
      *bp_ = (uint16_t)(*bp_ + ((2048 - *bp_) >> 5)); \
      zero;                                        \
    } else {                                       \
      range -= bound_;                             \
      code -= bound_;                              \
      *bp_ = (uint16_t)(*bp_ - (*bp_ >> 5));       \
      one;                                         \
    }                                              \
  } while (0)
// A bit tree of n bits at probs: the symbol, most significant bit first.
#define TREE(probs, n, out)                                          \
  do {                                                               \
    uint16_t *t_ = (probs);                                          \
    out = 1;                                                         \
    do BIT(t_ + out, out <<= 1, out = (out << 1) | 1);               \
    while (out < (1u << (n)));                                       \
    out -= 1u << (n);                                                \
  } while (0)
// A reverse bit tree of n bits: least significant bit first, added to out.
#define REVERSE_TREE(probs, n, out)                                          \
  do {                                                                       \
    uint16_t *t_ = (probs);                                                  \
    uint32_t m_ = 1;                                                         \
    for (unsigned i_ = 0; i_ < (n); i_++)                                    \
      BIT(t_ + m_, m_ <<= 1, (m_ = (m_ << 1) | 1, out += 1u << i_));         \
  } while (0)
// A match length less 2 (0..271) from the length coder at lp.
#define LENGTH(lp, out)                                                              \
  do {                                                                               \
    uint16_t *l_ = (lp);                                                             \
    BIT(l_ + LenChoice, TREE(l_ + LenLow + posState * 8, 3, out),                    \
        BIT(l_ + LenChoice2, { TREE(l_ + LenMid + posState * 8, 3, out); out += 8; }, \
            { TREE(l_ + LenHigh, 8, out); out += 16; }));                            \
  } while (0)

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
  // multiple of 16, or never wraps, so window positions give the position bits.
  uint64_t window = ((uint64_t)GetLE32(header + 5) + 15) & ~(uint64_t)15;
  if (window > uncompressedSize) window = uncompressedSize;
  if (window < MinDictionary) window = MinDictionary;
  const uint32_t probCount = Literal + (0x300u << (lc + lp));
  uint64_t bytes = probCount * 2ull + InputSize + InputSlack + window;
  void *block = window > 0xFFFF0000u || bytes != (size_t)bytes ? nullptr : TryAllocateMemory((size_t)bytes);
  if (!block) return DecodeResult::NoMemory;
  uint16_t *const probs = (uint16_t *)block;
  for (uint32_t i = 0; i < probCount; i++) probs[i] = ProbInit;
  Input = (uint8_t *)(probs + probCount);
  uint8_t *const dict = Input + InputSize + InputSlack;
  const uint32_t dictSize = (uint32_t)window;
  dict[dictSize - 1] = 0;  // the "previous byte" of the first literal

  InputEnd = Input;
  const uint8_t *in = Refill(Input), *inSafe = InputSafe, *inEnd = InputEnd;
  uint32_t range = 0xFFFFFFFF, code = 0;
  for (int i = 0; i < 5; i++) code = (code << 8) | *in++;
  DecodeResult result = DecodeResult::BadData;
  uint32_t state = 0, rep0 = 0, rep1 = 0, rep2 = 0, rep3 = 0;
  uint32_t pos = 0;          // where the next byte goes in dict
  uint32_t flushed = 0;      // dict[flushed, pos) is decoded but not yet written
  uint32_t limit = 0;        // the next stop: the piece is full, the dictionary ends, or the size is reached
  uint32_t pending = 0;      // bytes of the last match still to copy once the piece is written
  uint64_t outLeft = uncompressedSize;  // bytes still due, those in dict[flushed, pos) included
  bool wrapped = false;      // the dictionary has filled once: every byte of it is history
  bool atSize = false;       // all bytes are out; only an end marker may follow
  const uint32_t pbMask = (1u << pb) - 1, lpMask = (1u << lp) - 1;
  if (in > inEnd) goto input_short;
  if (Input[0] != 0) goto done;

  for (;;) {
    if (in >= inSafe) {
      Refill(in);
      in = Input;
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
        NORMALIZE();
        if (in > inEnd) goto input_short;
        if (!code) {
          result = DecodeResult::Done;
          goto done;
        }
        atSize = true;
        limit = pos;
        goto symbol;  // which must be the marker
      } else {
        uint32_t room = dictSize - pos < (uint32_t)LzmaPieceSize ? dictSize - pos : (uint32_t)LzmaPieceSize;
        limit = pos + (outLeft < room ? (uint32_t)outLeft : room);
      }
      if (pending) {
        uint32_t n = pending < limit - pos ? pending : limit - pos;
        pending -= n;
        pos = CopyMatch(dict, dictSize, pos, rep0, n);
      }
      continue;
    }
  symbol:
    const uint32_t posState = pos & pbMask;
    uint32_t len;
    BIT(probs + IsMatch + state * 16 + posState, goto literal, );
    BIT(probs + IsRep + state, , goto rep);
    {
      // A match: a length, then a distance; the rep distances move up.
      rep3 = rep2;
      rep2 = rep1;
      rep1 = rep0;
      LENGTH(probs + LenCoder, len);
      state = state < 7 ? 7 : 10;
      uint32_t slot, dist;
      TREE(probs + PosSlot + (len < 3 ? len : 3) * 64, 6, slot);
      len += 2;
      if (slot < 4) {
        dist = slot;
      } else {
        unsigned direct = (slot >> 1) - 1;
        dist = (2 | (slot & 1)) << direct;
        if (slot < 14) {
          REVERSE_TREE(probs + SpecPos + dist - slot, direct, dist);
        } else {
          uint32_t bits = 0;
          direct -= 4;
          do {
            NORMALIZE();
            range >>= 1;
            code -= range;
            uint32_t t = 0 - (code >> 31);  // all ones when the bit is 0
            code += range & t;
            bits = (bits << 1) + (t + 1);
          } while (--direct);
          dist += bits << 4;
          REVERSE_TREE(probs + Align, 4, dist);
        }
      }
      if (in > inEnd) goto input_short;
      if (dist == MarkerDistance) {
        // The marker is only taken where the size ends the stream anyway.
        if (!atSize) goto done;
        NORMALIZE();
        if (in > inEnd) goto input_short;
        if (!code) result = DecodeResult::Done;
        goto done;
      }
      rep0 = dist;
      goto copy;
    }
  rep:
    BIT(probs + IsRepG0 + state, , goto rep_far);
    BIT(probs + IsRep0Long + state * 16 + posState,
        {
          state = state < 7 ? 9 : 11;
          len = 1;  // one byte, at rep0
          goto copy;
        }, );
    goto rep_length;
  rep_far : {
    uint32_t dist;
    BIT(probs + IsRepG1 + state, dist = rep1, {
      BIT(probs + IsRepG2 + state, dist = rep2, (dist = rep3, rep3 = rep2));
      rep2 = rep1;
    });
    rep1 = rep0;
    rep0 = dist;
  }
  rep_length:
    LENGTH(probs + RepLenCoder, len);
    len += 2;
    state = state < 7 ? 8 : 11;
  copy:
    if (in > inEnd) goto input_short;
    if (rep0 >= (wrapped ? dictSize : pos)) goto done;
    {
      // The copy stops at the limit; the rest waits for the piece to be written.
      uint32_t n = len < limit - pos ? len : limit - pos;
      pending = len - n;
      pos = CopyMatch(dict, dictSize, pos, rep0, n);
    }
    continue;

  literal : {
    uint16_t *lit = probs + Literal;
    uint32_t previous = dict[(pos ? pos : dictSize) - 1];
    lit += 0x300 * ((((pos & lpMask) << lc) + (previous >> (8 - lc))));
    uint32_t symbol = 1;
    if (state < 7) {
      do BIT(lit + symbol, symbol <<= 1, symbol = (symbol << 1) | 1);
      while (symbol < 0x100);
    } else {
      // After a match the byte at rep0 predicts this one, bit by bit, until
      // the first bit where they differ.
      uint32_t match = dict[pos > rep0 ? pos - rep0 - 1 : pos + dictSize - rep0 - 1];
      uint32_t offset = 0x100;
      do {
        match <<= 1;
        uint32_t matchBit = match & offset;
        BIT(lit + offset + matchBit + symbol, (symbol <<= 1, offset &= ~matchBit),
            (symbol = (symbol << 1) | 1, offset &= matchBit));
      } while (symbol < 0x100);
    }
    if (in > inEnd) goto input_short;
    dict[pos++] = (uint8_t)symbol;
    state = NextAfterLiteral[state];
    continue;
  }
  }

input_short:
  result = InputEnded ? DecodeResult::ArchiveEnded : DecodeResult::BadData;
done:
  // What came before a fault still goes out; past the size nothing is pending.
  if (result == DecodeResult::BadData || result == DecodeResult::ArchiveEnded)
    if (!atSize && !Flush(dict + flushed, pos - flushed)) result = DecodeResult::OutputRefused;
  if (in <= inEnd) CompressedLeft += inEnd - in;
  ReleaseMemory(block);
  Input = nullptr;
  return result;
}
