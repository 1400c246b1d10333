// lzmaenc.cpp -- the LZMA encoder: probability model, range coder, prices,
// price-based parsing, and the LZMA1 / LZMA2 framing of its output.
#include "lzmaenc.h"

#include <stddef.h>
#include <string.h>

#include "lzmamatch.h"
#include "sfxcore.h"

namespace {

enum : uint32_t {
  States = 12,
  PosStatesMax = 16,
  LenStates = 4,            // distance models by match length 2, 3, 4, 5+
  ProbInit = 1024,          // every probability starts at one half (of 2048)
  MoveBits = 5,
  PriceShift = 4,           // prices are in 1/16 bits
  Infinity = 1u << 30,
  EndPosModelIndex = 14,    // slots from here code their middle bits directly
  FullDistances = 128,      // distances below this have a price each
  AlignSize = 16,
  PosSlots = 64,
  LenSymbols = 8 + 8 + 256,
  LenRow = LenSymbols + 4,  // a row of length prices, padded for reads four at a time
  NumOpts = 1 << 12,        // positions one parse looks through at most
  Lookahead = NumOpts + LzmaMatchMax + 8,
  OutSize = 1 << 16,        // LZMA1 output is handed on in pieces of this size
  Lzma2PackedMax = 1 << 16,
  Lzma2UnpackedMax = 1 << 21,
  Lzma2Header = 6,
  MaxSymbolBytes = 48,      // the range coder grows by less than this per symbol
  LitBack = 0xFFFFFFFFu,    // "literal" in a parse step
  MarkerDistance = 0xFFFFFFFFu,
  DistPriceInterval = 64,   // matches coded between refreshes of the distance prices
  AlignPriceInterval = 16,  // aligned distances coded between refreshes of their prices
  LenPriceInterval = 64,    // lengths coded between refreshes of a length price table
};

inline uint32_t LitNext(uint32_t s) { return s < 4 ? 0 : s < 10 ? s - 3 : s - 6; }
inline uint32_t MatchNext(uint32_t s) { return s < 7 ? 7 : 10; }
inline uint32_t RepNext(uint32_t s) { return s < 7 ? 8 : 11; }
inline uint32_t ShortRepNext(uint32_t s) { return s < 7 ? 9 : 11; }

inline uint32_t Slot(uint32_t dist) {
  if (dist < 4) return dist;
  uint32_t n = 31 - (uint32_t)__builtin_clz(dist);
  return (n << 1) | ((dist >> (n - 1)) & 1);
}

struct LenCoder {
  uint16_t Choice, Choice2, Low[PosStatesMax][8], Mid[PosStatesMax][8], High[256];
};

struct Model {
  uint16_t IsMatch[States][PosStatesMax], IsRep[States], IsRepG0[States], IsRepG1[States], IsRepG2[States];
  uint16_t IsRep0Long[States][PosStatesMax];
  uint16_t PosSlot[LenStates][PosSlots], SpecPos[FullDistances - EndPosModelIndex + 1], Align[AlignSize];
  LenCoder Len, RepLen;
  uint16_t Literal[0x300 << 4];
};

// The range coder: Low holds the pending bits (with a carry in bit 32), Cache
// the last byte not yet written and CacheSize it with the 0xFF bytes behind it
// that a carry may still change.
struct RangeEncoder {
  uint64_t Low;
  uint32_t Range;
  uint8_t Cache;
  uint64_t CacheSize;
  uint8_t *Buf;
  size_t Pos, Cap;
  LzmaSink Sink;  // takes full buffers (LZMA1); LZMA2 chunks never fill it
  void *Context;

  void Reset() {
    Low = 0;
    Range = 0xFFFFFFFF;
    Cache = 0;
    CacheSize = 1;
  }
  void Put(uint8_t b) {
    if (Pos == Cap) {
      Sink(Context, Buf, Pos);
      Pos = 0;
    }
    Buf[Pos++] = b;
  }
  void ShiftLow() {
    if ((uint32_t)Low < 0xFF000000u || (Low >> 32) != 0) {
      uint8_t carry = (uint8_t)(Low >> 32), b = Cache;
      do {
        Put((uint8_t)(b + carry));
        b = 0xFF;
      } while (--CacheSize != 0);
      Cache = (uint8_t)(Low >> 24);
    }
    CacheSize++;
    Low = (Low & 0x00FFFFFF) << 8;
  }
  void Flush() {
    for (int i = 0; i < 5; i++) ShiftLow();
  }
  // Bytes the stream will have once flushed, at most.
  uint64_t Size() const { return Pos + CacheSize + 4; }
  inline void Bit(uint16_t *p, uint32_t bit) {
    uint32_t bound = (Range >> 11) * *p;
    if (!bit) {
      Range = bound;
      *p = (uint16_t)(*p + ((2048 - *p) >> MoveBits));
    } else {
      Low += bound;
      Range -= bound;
      *p = (uint16_t)(*p - (*p >> MoveBits));
    }
    while (Range < (1u << 24)) {
      Range <<= 8;
      ShiftLow();
    }
  }
  void Direct(uint32_t value, uint32_t bits) {
    while (bits--) {
      Range >>= 1;
      if ((value >> bits) & 1) Low += Range;
      while (Range < (1u << 24)) {
        Range <<= 8;
        ShiftLow();
      }
    }
  }
  void Tree(uint16_t *probs, uint32_t bits, uint32_t symbol) {
    uint32_t m = 1;
    while (bits--) {
      uint32_t bit = (symbol >> bits) & 1;
      Bit(probs + m, bit);
      m = (m << 1) | bit;
    }
  }
  void ReverseTree(uint16_t *probs, uint32_t bits, uint32_t symbol) {
    uint32_t m = 1;
    while (bits--) {
      uint32_t bit = symbol & 1;
      symbol >>= 1;
      Bit(probs + m, bit);
      m = (m << 1) | bit;
    }
  }
};

// One node of the parse: the cheapest known way to reach a position from the
// parse's start, as the step that ends there. A step is one symbol (Kind
// Single: a literal, a short rep, a rep match or a match), a literal then rep0
// (StepLitRep0), or a rep match or match of Len1 bytes, a literal and rep0
// (StepMatchLitRep0). A node is kept in four arrays side by side (the loops
// over lengths compare and replace four nodes at a time): its price, its Back
// (LitBack, a rep index 0..3, or a match distance + 4), the rest of its step
// packed into one word (PackStep), and the State and Reps after it (OptNode),
// filled in when the parse reaches it.
enum : uint8_t { StepSingle, StepLitRep0, StepMatchLitRep0 };
struct OptNode {
  uint8_t State;
  uint32_t Reps[4];
};
struct Step {
  uint32_t From;  // the node the step starts from
  uint32_t Back, Len1, Kind;
};
static_assert(NumOpts <= 0x2000 && LzmaMatchMax < 0x200, "a step packs into one word");
inline uint32_t PackStep(uint32_t from, uint32_t len1, uint32_t kind) { return from | len1 << 13 | kind << 22; }

// A symbol chosen by the parse: length, kind (as a node's Back) and the
// distance less 1 it stands for (reps resolved), so that a chunk that resets
// the state can still code it.
struct PathSymbol {
  uint32_t Len, Back, Dist;
};

}  // namespace

struct LzmaEncoder {
  LzmaEncoderSettings Set;
  LzmaFormat Format;
  uint32_t PbMask, LpMask, Nice;
  LzmaMatchFinder Mf;
  Model M;
  uint32_t State;
  uint32_t Reps[4];
  uint64_t Done;  // input bytes coded

  uint32_t ProbPrices[128];
  uint32_t PosSlotPrices[LenStates][PosSlots];
  uint32_t DistPrices[LenStates][FullDistances];
  uint32_t AlignPrices[AlignSize];
  uint32_t LenPrices[PosStatesMax][LenRow], RepLenPrices[PosStatesMax][LenRow];
  uint32_t MatchCount, AlignCount, LenCount, RepLenCount;

  uint32_t PendingCount;
  bool HasPending;
  uint32_t PathCount, PathIndex;
  RangeEncoder Rc;
  uint32_t ChunkUnpacked;
  bool ChunkOpen, NeedStateReset, NeedProps, NeedDictReset;
  LzmaSink Sink;
  void *Context;

  // Buffers from here on start undefined: each part is written before it is read.
  uint32_t OptPrices[NumOpts + 8], OptBacks[NumOpts + 8], OptSteps[NumOpts + 8];  // (padded for four at a time)
  OptNode Opt[NumOpts + 2];
  LzmaMatch Matches[LzmaMaxPairs], Pending[LzmaMaxPairs];
  PathSymbol Path[NumOpts];
  // LZMA1: Out is the range coder's buffer. LZMA2: Chunk holds a chunk's header
  // then its packed bytes, Raw the chunk's input while it fits an uncompressed chunk.
  uint8_t Out[OutSize];
  uint8_t Chunk[Lzma2Header + Lzma2PackedMax + 2 * MaxSymbolBytes];
  uint8_t Raw[Lzma2PackedMax];

  uint32_t Price0(uint16_t p) const { return ProbPrices[p >> 4]; }
  uint32_t Price1(uint16_t p) const { return ProbPrices[(2048 - p) >> 4]; }
  // Price0 or Price1 without a branch, for bits as good as random: when bit is
  // 1, (p ^ ~0) + 2049 is 2048 - p.
  uint32_t PriceBit(uint16_t p, uint32_t bit) const { return ProbPrices[((p ^ (0u - bit)) + (bit & 1) * 2049) >> 4]; }
  uint32_t TreePrice(const uint16_t *probs, uint32_t bits, uint32_t symbol) const {
    uint32_t price = 0;
    symbol |= 1u << bits;
    while (symbol != 1) {
      price += PriceBit(probs[symbol >> 1], symbol & 1);
      symbol >>= 1;
    }
    return price;
  }
  uint32_t ReversePrice(const uint16_t *probs, uint32_t bits, uint32_t symbol) const {
    uint32_t price = 0, m = 1;
    while (bits--) {
      uint32_t bit = symbol & 1;
      symbol >>= 1;
      price += PriceBit(probs[m], bit);
      m = (m << 1) | bit;
    }
    return price;
  }
  uint16_t *LiteralProbs(uint64_t pos, uint32_t prev) {
    return M.Literal + 0x300 * ((((uint32_t)pos & LpMask) << Set.Lc) + (prev >> (8 - Set.Lc)));
  }
  // The price of literal `symbol` at pos after byte prev; after a match (state
  // 7 and up) coded against matchByte, the byte at rep0, up to the first bit
  // that differs from it, and as a plain literal from there on.
  uint32_t LiteralPrice(uint64_t pos, uint32_t prev, uint32_t state, uint32_t symbol, uint32_t matchByte) {
    const uint16_t *probs = LiteralProbs(pos, prev);
    uint32_t price = 0;
    symbol |= 0x100;
    if (state >= 7) {
      do {
        uint32_t matchBit = (matchByte >> 7) & 1, bit = (symbol >> 7) & 1;
        matchByte <<= 1;
        price += PriceBit(probs[0x100 + (matchBit << 8) + (symbol >> 8)], bit);
        symbol <<= 1;
        if (matchBit != bit) break;
      } while (symbol < 0x10000);
    }
    while (symbol < 0x10000) {
      price += PriceBit(probs[symbol >> 8], (symbol >> 7) & 1);
      symbol <<= 1;
    }
    return price;
  }
  // `price`, plus a literal at pos (byte p[0], rep0's byte back[0]) after a
  // step that left `state`, then rep0 for len2 bytes; Infinity as soon as the
  // sum without the literal's bits reaches `bound`, as they only add to it.
  uint32_t LitRep0Price(uint32_t price, uint32_t state, uint64_t pos, const uint8_t *p, const uint8_t *back,
                        uint32_t len2, uint32_t bound) {
    const uint32_t litState = state, ps = (uint32_t)(pos + 1) & PbMask;
    state = LitNext(state);
    price += Price0(M.IsMatch[litState][(uint32_t)pos & PbMask]) + Price1(M.IsMatch[state][ps]) + Price1(M.IsRep[state]) +
             RepPrice(0, state, ps) + RepLenPrices[ps][len2 - 2];
    return price >= bound ? Infinity : price + LiteralPrice(pos, p[-1], litState, p[0], back[0]);
  }
  // The price of rep index i past IsMatch and IsRep, without the length.
  uint32_t RepPrice(uint32_t i, uint32_t state, uint32_t posState) const {
    if (i == 0) return Price0(M.IsRepG0[state]) + Price1(M.IsRep0Long[state][posState]);
    uint32_t price = Price1(M.IsRepG0[state]);
    if (i == 1) return price + Price0(M.IsRepG1[state]);
    return price + Price1(M.IsRepG1[state]) + PriceBit(M.IsRepG2[state], i - 2);
  }
  uint32_t ShortRepPrice(uint32_t state, uint32_t posState) const {
    return Price0(M.IsRepG0[state]) + Price0(M.IsRep0Long[state][posState]);
  }
  uint32_t DistPrice(uint32_t dist, uint32_t len) const {
    uint32_t lenState = len - 2 < LenStates - 1 ? len - 2 : LenStates - 1;
    if (dist < FullDistances) return DistPrices[lenState][dist];
    return PosSlotPrices[lenState][Slot(dist)] + AlignPrices[dist & (AlignSize - 1)];
  }
  bool Usable(uint32_t rep, uint64_t pos) const { return rep < pos; }
  void SetStep(uint32_t at, uint32_t price, uint32_t from, uint32_t back, uint32_t len1, uint8_t kind) {
    OptPrices[at] = price;
    OptBacks[at] = back;
    OptSteps[at] = PackStep(from, len1, kind);
  }
  Step StepAt(uint32_t at) const {
    uint32_t packed = OptSteps[at];
    return {packed & 0x1FFF, OptBacks[at], (packed >> 13) & 0x1FF, packed >> 22};
  }
  // Offers the single step from node cur of `back` with every length l from
  // `from` to `to`, at price base + lenPrices[l - 2], to the nodes cur + l where
  // it is cheaper. Four lengths at a time, without branches: the nodes' fields
  // lie side by side, and whether an offer wins is as good as random. (Lanes
  // past `to` read and write back padding or stale nodes unchanged.)
  void OfferLengths(uint32_t cur, uint32_t from, uint32_t to, uint32_t base, const uint32_t *lenPrices, uint32_t back) {
    typedef int32_t Lanes __attribute__((vector_size(16)));  // prices stay below 2^31
    const Lanes lane = {0, 1, 2, 3};
    const int32_t step = (int32_t)PackStep(cur, 0, StepSingle);
    for (uint32_t l = from; l <= to; l += 4) {
      Lanes offer, price, backs, steps;
      memcpy(&offer, lenPrices + l - 2, sizeof offer);
      memcpy(&price, OptPrices + cur + l, sizeof price);
      memcpy(&backs, OptBacks + cur + l, sizeof backs);
      memcpy(&steps, OptSteps + cur + l, sizeof steps);
      offer += (int32_t)base;
      Lanes wins = (offer < price) & (lane <= (int32_t)(to - l));
      price = (offer & wins) | (price & ~wins);
      backs = ((int32_t)back & wins) | (backs & ~wins);
      steps = (step & wins) | (steps & ~wins);
      memcpy(OptPrices + cur + l, &price, sizeof price);
      memcpy(OptBacks + cur + l, &backs, sizeof backs);
      memcpy(OptSteps + cur + l, &steps, sizeof steps);
    }
  }

  void ResetState();
  void PricesInit();
  void LenPricesFill(const LenCoder &coder, uint32_t prices[PosStatesMax][LenRow]);
  void DistPricesFill();
  void AlignPricesFill();
  void RefreshPrices();

  void CodeLength(LenCoder &coder, uint32_t len, uint32_t posState);
  void CodeLiteral();
  void CodeMatch(uint32_t dist, uint32_t len);
  void CodeRep(uint32_t rep, uint32_t len);
  void CodeSymbol(const PathSymbol &s);

  uint32_t ReadMatches(LzmaMatch *out);
  void Single(uint32_t len, uint32_t back, uint32_t dist);
  void Parse();

  void Run(bool all);
  void StartChunk();
  void EndChunk();
};

namespace {

inline uint32_t MatchLen(const uint8_t *a, const uint8_t *b, uint32_t limit) { return LzmaMatchExtend(a, b, 0, limit); }

void FillProbs(uint16_t *p, size_t count) {
  for (size_t i = 0; i < count; i++) p[i] = ProbInit;
}

// -log2(p / 2048) in 1/16 bits for p = 16 i + 8, by integer squaring (the
// same on every machine).
void BuildProbPrices(uint32_t prices[128]) {
  for (uint32_t i = 0; i < 128; i++) {
    uint32_t p = (i << 4) + 8, e = 0;
    while (p >> (e + 1)) e++;
    uint32_t m = p << (15 - e), frac = 0;  // m in [2^15, 2^16): p's mantissa
    for (int k = 0; k < 4; k++) {
      m = (m * m) >> 15;
      frac <<= 1;
      if (m >= (1u << 16)) {
        m >>= 1;
        frac |= 1;
      }
    }
    prices[i] = (11 << PriceShift) - ((e << PriceShift) + frac);
  }
}

}  // namespace

void LzmaEncoder::ResetState() {
  FillProbs((uint16_t *)&M, sizeof M / sizeof(uint16_t));
  State = 0;
  Reps[0] = Reps[1] = Reps[2] = Reps[3] = 0;
  PricesInit();
}

void LzmaEncoder::LenPricesFill(const LenCoder &coder, uint32_t prices[PosStatesMax][LenRow]) {
  const uint32_t a0 = Price0(coder.Choice), a1 = Price1(coder.Choice);
  const uint32_t b0 = a1 + Price0(coder.Choice2), b1 = a1 + Price1(coder.Choice2);
  const uint32_t posStates = PbMask + 1;
  // The parse prices lengths up to the nice length only: longer ones are taken at once.
  const uint32_t symbols = Nice - 1 > 16 ? Nice - 1 : 16;
  for (uint32_t i = 16; i < symbols; i++) prices[0][i] = b1 + TreePrice(coder.High, 8, i - 16);
  for (uint32_t ps = 0; ps < posStates; ps++) {
    for (uint32_t i = 0; i < 8; i++) {
      prices[ps][i] = a0 + TreePrice(coder.Low[ps], 3, i);
      prices[ps][i + 8] = b0 + TreePrice(coder.Mid[ps], 3, i);
    }
    if (ps) memcpy(&prices[ps][16], &prices[0][16], (symbols - 16) * sizeof(uint32_t));
  }
}

void LzmaEncoder::DistPricesFill() {
  uint32_t footer[FullDistances];
  for (uint32_t d = 4; d < FullDistances; d++) {
    uint32_t slot = Slot(d), bits = (slot >> 1) - 1, base = (2 | (slot & 1)) << bits;
    footer[d] = ReversePrice(M.SpecPos + base - slot, bits, d - base);
  }
  for (uint32_t ls = 0; ls < LenStates; ls++) {
    for (uint32_t slot = 0; slot < PosSlots; slot++) {
      uint32_t price = TreePrice(M.PosSlot[ls], 6, slot);
      if (slot >= EndPosModelIndex) price += ((slot >> 1) - 1 - 4) << PriceShift;
      PosSlotPrices[ls][slot] = price;
    }
    for (uint32_t d = 0; d < FullDistances; d++)
      DistPrices[ls][d] = PosSlotPrices[ls][Slot(d)] + (d < 4 ? 0 : footer[d]);
  }
  MatchCount = 0;
}

void LzmaEncoder::AlignPricesFill() {
  for (uint32_t i = 0; i < AlignSize; i++) AlignPrices[i] = ReversePrice(M.Align, 4, i);
  AlignCount = 0;
}

void LzmaEncoder::PricesInit() {
  LenPricesFill(M.Len, LenPrices);
  LenPricesFill(M.RepLen, RepLenPrices);
  LenCount = RepLenCount = 0;
  DistPricesFill();
  AlignPricesFill();
}

void LzmaEncoder::RefreshPrices() {
  if (MatchCount >= DistPriceInterval) DistPricesFill();
  if (AlignCount >= AlignPriceInterval) AlignPricesFill();
  if (LenCount >= LenPriceInterval) {
    LenPricesFill(M.Len, LenPrices);
    LenCount = 0;
  }
  if (RepLenCount >= LenPriceInterval) {
    LenPricesFill(M.RepLen, RepLenPrices);
    RepLenCount = 0;
  }
}

void LzmaEncoder::CodeLength(LenCoder &coder, uint32_t len, uint32_t posState) {
  len -= 2;
  if (len < 8) {
    Rc.Bit(&coder.Choice, 0);
    Rc.Tree(coder.Low[posState], 3, len);
  } else if (len < 16) {
    Rc.Bit(&coder.Choice, 1);
    Rc.Bit(&coder.Choice2, 0);
    Rc.Tree(coder.Mid[posState], 3, len - 8);
  } else {
    Rc.Bit(&coder.Choice, 1);
    Rc.Bit(&coder.Choice2, 1);
    Rc.Tree(coder.High, 8, len - 16);
  }
}

void LzmaEncoder::CodeLiteral() {
  const uint32_t posState = (uint32_t)Done & PbMask;
  const uint8_t *cur = Mf.At(Done);
  Rc.Bit(&M.IsMatch[State][posState], 0);
  uint16_t *probs = LiteralProbs(Done, Done ? cur[-1] : 0);
  uint32_t symbol = cur[0] | 0x100;
  if (State < 7) {
    do {
      Rc.Bit(probs + (symbol >> 8), (symbol >> 7) & 1);
      symbol <<= 1;
    } while (symbol < 0x10000);
  } else {
    uint32_t matchByte = cur[-(int64_t)Reps[0] - 1], offs = 0x100;
    do {
      matchByte <<= 1;
      Rc.Bit(probs + offs + (matchByte & offs) + (symbol >> 8), (symbol >> 7) & 1);
      symbol <<= 1;
      offs &= ~(matchByte ^ symbol);
    } while (symbol < 0x10000);
  }
  State = LitNext(State);
}

// A match of len bytes at distance dist + 1 (or the end marker).
void LzmaEncoder::CodeMatch(uint32_t dist, uint32_t len) {
  const uint32_t posState = (uint32_t)Done & PbMask;
  Rc.Bit(&M.IsMatch[State][posState], 1);
  Rc.Bit(&M.IsRep[State], 0);
  CodeLength(M.Len, len, posState);
  LenCount++;
  uint32_t slot = Slot(dist), lenState = len - 2 < LenStates - 1 ? len - 2 : LenStates - 1;
  Rc.Tree(M.PosSlot[lenState], 6, slot);
  if (slot >= 4) {
    uint32_t bits = (slot >> 1) - 1, base = (2 | (slot & 1)) << bits, reduced = dist - base;
    if (slot < EndPosModelIndex) {
      Rc.ReverseTree(M.SpecPos + base - slot, bits, reduced);
    } else {
      Rc.Direct(reduced >> 4, bits - 4);
      Rc.ReverseTree(M.Align, 4, reduced & 15);
      AlignCount++;
    }
  }
  Reps[3] = Reps[2];
  Reps[2] = Reps[1];
  Reps[1] = Reps[0];
  Reps[0] = dist;
  State = MatchNext(State);
  MatchCount++;
}

// rep index rep, len bytes; len 1 is the short rep (rep 0 only).
void LzmaEncoder::CodeRep(uint32_t rep, uint32_t len) {
  const uint32_t posState = (uint32_t)Done & PbMask;
  Rc.Bit(&M.IsMatch[State][posState], 1);
  Rc.Bit(&M.IsRep[State], 1);
  if (rep == 0) {
    Rc.Bit(&M.IsRepG0[State], 0);
    Rc.Bit(&M.IsRep0Long[State][posState], len != 1);
    if (len == 1) {
      State = ShortRepNext(State);
      return;
    }
  } else {
    uint32_t dist = Reps[rep];
    Rc.Bit(&M.IsRepG0[State], 1);
    Rc.Bit(&M.IsRepG1[State], rep != 1);
    if (rep != 1) {
      Rc.Bit(&M.IsRepG2[State], rep - 2);
      if (rep == 3) Reps[3] = Reps[2];
      Reps[2] = Reps[1];
    }
    Reps[1] = Reps[0];
    Reps[0] = dist;
  }
  CodeLength(M.RepLen, len, posState);
  RepLenCount++;
  State = RepNext(State);
}

void LzmaEncoder::CodeSymbol(const PathSymbol &s) {
  if (Format == LzmaFormat::Lzma2) {
    if ((ChunkOpen && (ChunkUnpacked + s.Len > Lzma2UnpackedMax || Rc.Size() + MaxSymbolBytes > Lzma2PackedMax)))
      EndChunk();
    if (!ChunkOpen) StartChunk();
    if (ChunkUnpacked + s.Len <= sizeof Raw) memcpy(Raw + ChunkUnpacked, Mf.At(Done), s.Len);
    ChunkUnpacked += s.Len;
  }
  if (s.Back == LitBack) {
    CodeLiteral();
  } else if (s.Back >= 4) {
    CodeMatch(s.Dist, s.Len);
  } else {
    // A rep as parsed, unless a state reset since has changed the distances:
    // then whichever rep still holds the distance, else a match or a literal.
    uint32_t rep = s.Back;
    if (Reps[rep] != s.Dist || !Usable(Reps[rep], Done)) {
      rep = 4;
      for (uint32_t j = 0; j < 4 && rep == 4; j++)
        if (Reps[j] == s.Dist && Usable(Reps[j], Done)) rep = j;
    }
    if (s.Len == 1 && rep != 0) {
      CodeLiteral();
    } else if (rep < 4) {
      CodeRep(rep, s.Len);
    } else {
      CodeMatch(s.Dist, s.Len);
    }
  }
  Done += s.Len;
}

// Finds the matches at the match finder's position (the next one the parse
// looks at) and moves it on.
uint32_t LzmaEncoder::ReadMatches(LzmaMatch *out) { return Mf.Find(out); }

// The parse's result when it is one symbol at its start.
void LzmaEncoder::Single(uint32_t len, uint32_t back, uint32_t dist) {
  Path[0] = {len, back, dist};
  PathCount = 1;
  PathIndex = 0;
}

// Chooses the symbols for the input from Done on, into Path: the cheapest path
// through the next positions (up to NumOpts), ending where a match of Nice
// bytes or more starts (kept in Pending for the next parse) or where no step
// reaches further. Reads the matches of every position it passes, in order.
void LzmaEncoder::Parse() {
  RefreshPrices();
  const uint64_t start = Done;
  const uint8_t *data = Mf.At(start);
  const uint32_t availAll = (uint32_t)(Mf.Position() + Mf.Available() - start);  // input from start on
  uint32_t count;
  if (HasPending) {
    memcpy(Matches, Pending, PendingCount * sizeof(LzmaMatch));
    count = PendingCount;
    HasPending = false;
  } else {
    count = ReadMatches(Matches);
  }
  const uint32_t avail = availAll < LzmaMatchMax ? availAll : LzmaMatchMax;
  if (avail < 2) return Single(1, LitBack, 0);

  uint32_t repLens[4], repMax = 0;
  for (uint32_t i = 0; i < 4; i++) {
    repLens[i] = 0;
    if (!Usable(Reps[i], start)) continue;
    const uint8_t *back = data - (int64_t)Reps[i] - 1;
    if (back[0] == data[0] && back[1] == data[1]) repLens[i] = MatchLen(data, back, avail);
    if (repLens[i] > repLens[repMax]) repMax = i;
  }
  if (repLens[repMax] >= Nice) {
    Mf.Skip(repLens[repMax] - 1);
    return Single(repLens[repMax], repMax, Reps[repMax]);
  }
  uint32_t mainLen = count ? Matches[count - 1].Len : 0;
  if (mainLen > avail) mainLen = avail;  // (never: the match finder stops there)
  if (mainLen >= Nice) {
    Mf.Skip(mainLen - 1);
    return Single(mainLen, Matches[count - 1].Dist + 4, Matches[count - 1].Dist);
  }
  const uint32_t curByte = data[0];
  const bool rep0Usable = Usable(Reps[0], start);
  const uint32_t matchByte = rep0Usable ? data[-(int64_t)Reps[0] - 1] : ~curByte & 0xFF;
  if (mainLen < 2 && curByte != matchByte && repLens[repMax] < 2) return Single(1, LitBack, 0);

  // The start node and the steps from it.
  OptNode *opt = Opt;
  uint32_t *prices = OptPrices;
  opt[0].State = (uint8_t)State;
  memcpy(opt[0].Reps, Reps, sizeof Reps);
  uint32_t posState = (uint32_t)start & PbMask;
  SetStep(1, Price0(M.IsMatch[State][posState]) + LiteralPrice(start, start ? data[-1] : 0, State, curByte, matchByte),
            0, LitBack, 0, StepSingle);
  uint32_t matchPrice = Price1(M.IsMatch[State][posState]);
  uint32_t repMatchPrice = matchPrice + Price1(M.IsRep[State]);
  if (matchByte == curByte) {
    uint32_t price = repMatchPrice + ShortRepPrice(State, posState);
    if (price < prices[1]) SetStep(1, price, 0, 0, 0, StepSingle);
  }
  uint32_t lenEnd = mainLen > repLens[repMax] ? mainLen : repLens[repMax];
  if (lenEnd < 2) return Single(1, OptBacks[1], OptBacks[1] == 0 ? Reps[0] : 0);
  for (uint32_t i = 2; i <= lenEnd; i++) prices[i] = Infinity;
  for (uint32_t i = 0; i < 4; i++) {
    if (repLens[i] < 2) continue;
    OfferLengths(0, 2, repLens[i], repMatchPrice + RepPrice(i, State, posState), RepLenPrices[posState], i);
  }
  uint32_t normalMatchPrice = matchPrice + Price0(M.IsRep[State]);
  uint32_t len = repLens[0] >= 2 ? repLens[0] + 1 : 2;
  if (len <= mainLen) {
    uint32_t k = 0;
    while (len > Matches[k].Len) k++;
    for (;; len++) {
      uint32_t dist = Matches[k].Dist;
      uint32_t price = normalMatchPrice + LenPrices[posState][len - 2] + DistPrice(dist, len);
      if (price < prices[len]) SetStep(len, price, 0, dist + 4, 0, StepSingle);
      if (len == Matches[k].Len && ++k == count) break;
    }
  }

  uint32_t cur = 0;
  for (;;) {
    if (++cur == lenEnd) break;
    uint32_t newCount = ReadMatches(Matches);
    uint32_t newLen = newCount ? Matches[newCount - 1].Len : 0;
    if (newLen >= Nice) {
      memcpy(Pending, Matches, newCount * sizeof(LzmaMatch));
      PendingCount = newCount;
      HasPending = true;
      break;
    }
    // The state and distances after the node's step.
    OptNode &node = opt[cur];
    const Step step = StepAt(cur);
    const OptNode &from = opt[step.From];
    uint32_t state = from.State;
    uint32_t reps[4];
    memcpy(reps, from.Reps, sizeof reps);
    if (step.Kind == StepLitRep0) {
      state = RepNext(LitNext(state));
    } else {
      uint32_t firstLen = step.Kind == StepSingle ? cur - step.From : step.Len1;
      if (step.Back == LitBack) {
        state = LitNext(state);
      } else if (step.Back < 4) {
        if (firstLen == 1) {
          state = ShortRepNext(state);
        } else {
          state = RepNext(state);
          uint32_t d = reps[step.Back];
          for (uint32_t j = step.Back; j > 0; j--) reps[j] = reps[j - 1];
          reps[0] = d;
        }
      } else {
        state = MatchNext(state);
        reps[3] = reps[2], reps[2] = reps[1], reps[1] = reps[0], reps[0] = step.Back - 4;
      }
      if (step.Kind == StepMatchLitRep0) state = RepNext(LitNext(state));
    }
    node.State = (uint8_t)state;
    memcpy(node.Reps, reps, sizeof reps);

    const uint64_t pos = start + cur;
    const uint8_t *p = data + cur;
    const uint32_t curPrice = prices[cur];
    const uint32_t byte = p[0];
    // From here on every rep lies within the input: pos is 1 or more, and a
    // node's reps are the start's (0 or distances coded before it) or
    // distances of matches found since.
    const uint32_t mByte = p[-(int64_t)reps[0] - 1];
    posState = (uint32_t)pos & PbMask;
    uint32_t availFull = availAll - cur;
    if (availFull > NumOpts - 1 - cur) availFull = NumOpts - 1 - cur;
    const uint32_t numAvail = availFull < Nice ? availFull : Nice;

    // The literal's price only where it can matter: a node already cheaper
    // than the price of its first bit (often, inside a long match) is not
    // beaten by it.
    const uint32_t litBase = curPrice + Price0(M.IsMatch[state][posState]);
    uint32_t curAnd1Price = Infinity;  // (priced when needed)
    bool nextIsLiteral = false;
    if (litBase < prices[cur + 1]) {
      curAnd1Price = litBase + LiteralPrice(pos, p[-1], state, byte, mByte);
      if (curAnd1Price < prices[cur + 1]) {
        SetStep(cur + 1, curAnd1Price, cur, LitBack, 0, StepSingle);
        nextIsLiteral = true;
      }
    }
    matchPrice = curPrice + Price1(M.IsMatch[state][posState]);
    repMatchPrice = matchPrice + Price1(M.IsRep[state]);
    if (mByte == byte && !(StepAt(cur + 1).From == cur && OptBacks[cur + 1] == 0)) {
      uint32_t price = repMatchPrice + ShortRepPrice(state, posState);
      if (price <= prices[cur + 1]) {
        SetStep(cur + 1, price, cur, 0, 0, StepSingle);
        nextIsLiteral = false;
      }
    }
    if (availFull < 2) continue;
    auto reach = [&](uint32_t end) {
      for (uint32_t at = lenEnd + 1; at <= end; at++) prices[at] = Infinity;
      if (end > lenEnd) lenEnd = end;
    };

    // A literal, then rep0.
    if (!nextIsLiteral && mByte != byte) {
      uint32_t limit = availFull - 1 < Nice ? availFull - 1 : Nice;
      uint32_t len2 = MatchLen(p + 1, p - reps[0], limit);
      if (len2 >= 2) {
        if (curAnd1Price == Infinity) curAnd1Price = litBase + LiteralPrice(pos, p[-1], state, byte, mByte);
        uint32_t state2 = LitNext(state), ps2 = (uint32_t)(pos + 1) & PbMask;
        uint32_t price = curAnd1Price + Price1(M.IsMatch[state2][ps2]) + Price1(M.IsRep[state2]) +
                         RepPrice(0, state2, ps2) + RepLenPrices[ps2][len2 - 2];
        uint32_t end = cur + 1 + len2;
        reach(end);
        if (price < prices[end]) SetStep(end, price, cur, LitBack, 1, StepLitRep0);
      }
    }

    // The reps whose first two bytes match, found without a branch per rep.
    uint32_t startLen = 2, repsFound = 0;
    const uint32_t head = p[0] | p[1] << 8;
    for (uint32_t i = 0; i < 4; i++) {
      const uint8_t *back = p - reps[i] - 1;
      repsFound |= (uint32_t)((uint32_t)(back[0] | back[1] << 8) == head) << i;
    }
    for (; repsFound; repsFound &= repsFound - 1) {
      const uint32_t i = (uint32_t)__builtin_ctz(repsFound);
      const uint8_t *back = p - reps[i] - 1;
      uint32_t lenTest = MatchLen(p, back, numAvail);
      reach(cur + lenTest);
      uint32_t price = repMatchPrice + RepPrice(i, state, posState);
      OfferLengths(cur, 2, lenTest, price, RepLenPrices[posState], i);
      if (i == 0) startLen = lenTest + 1;
      // The rep, a literal, then rep0 (the same distance).
      if (lenTest + 1 < availFull) {
        uint32_t limit = availFull - 1 - lenTest < Nice ? availFull - 1 - lenTest : Nice;
        uint32_t len2 = MatchLen(p + lenTest + 1, back + lenTest + 1, limit);
        if (len2 >= 2) {
          uint32_t end = cur + lenTest + 1 + len2;
          uint32_t total = LitRep0Price(price + RepLenPrices[posState][lenTest - 2], RepNext(state), pos + lenTest,
                                        p + lenTest, back + lenTest, len2, end > lenEnd ? Infinity : prices[end]);
          reach(end);
          if (total < prices[end]) SetStep(end, total, cur, i, lenTest, StepMatchLitRep0);
        }
      }
    }

    if (newLen > numAvail) {
      newCount = 0;
      while (Matches[newCount].Len < numAvail) newCount++;
      Matches[newCount++].Len = numAvail;
      newLen = numAvail;
    }
    if (newLen >= startLen) {
      uint32_t normalPrice = matchPrice + Price0(M.IsRep[state]);
      reach(cur + newLen);
      uint32_t k = 0;
      while (startLen > Matches[k].Len) k++;
      // Each match offers the lengths from the end of the one before up to its own.
      for (uint32_t l = startLen;; k++) {
        const uint32_t dist = Matches[k].Dist, last = Matches[k].Len;
        for (; l <= last && l <= LenStates; l++) {
          uint32_t total = normalPrice + LenPrices[posState][l - 2] + DistPrice(dist, l);
          if (total < prices[cur + l]) SetStep(cur + l, total, cur, dist + 4, 0, StepSingle);
        }
        // A distance's price is the same for every length from 5 on.
        if (l <= last) OfferLengths(cur, l, last, normalPrice + DistPrice(dist, LenStates + 1), LenPrices[posState], dist + 4);
        l = last + 1;
        // The match, a literal, then rep0 (the same distance).
        const uint8_t *back = p - dist - 1;
        if (last + 1 < availFull) {
          uint32_t limit = availFull - 1 - last < Nice ? availFull - 1 - last : Nice;
          uint32_t len2 = MatchLen(p + last + 1, back + last + 1, limit);
          if (len2 >= 2) {
            uint32_t end = cur + last + 1 + len2;
            uint32_t t2 = LitRep0Price(normalPrice + LenPrices[posState][last - 2] + DistPrice(dist, last), MatchNext(state),
                                       pos + last, p + last, back + last, len2, end > lenEnd ? Infinity : prices[end]);
            reach(end);
            if (t2 < prices[end]) SetStep(end, t2, cur, dist + 4, last, StepMatchLitRep0);
          }
        }
        if (k + 1 == newCount) break;
      }
    }
  }

  // Back from the end node to the start: the steps, then their symbols in order.
  uint32_t n = 0;
  PathSymbol reversed[3];
  for (uint32_t at = cur; at > 0;) {
    const Step node = StepAt(at);
    const OptNode &from = opt[node.From];
    uint32_t k = 0, span = at - node.From;
    auto dist = [&](uint32_t back) { return back == LitBack ? 0 : back < 4 ? from.Reps[back] : back - 4; };
    if (node.Kind == StepSingle) {
      reversed[k++] = {span, node.Back, dist(node.Back)};
    } else if (node.Kind == StepLitRep0) {
      reversed[k++] = {span - 1, 0, from.Reps[0]};
      reversed[k++] = {1, LitBack, 0};
    } else {
      uint32_t d = dist(node.Back);
      reversed[k++] = {span - node.Len1 - 1, 0, d};
      reversed[k++] = {1, LitBack, 0};
      reversed[k++] = {node.Len1, node.Back, d};
    }
    for (uint32_t j = 0; j < k; j++) Path[NumOpts - 1 - n++] = reversed[j];
    at = node.From;
  }
  memmove(Path, Path + NumOpts - n, n * sizeof(PathSymbol));
  PathCount = n;
  PathIndex = 0;
}

// LZMA2: opens a chunk before its first symbol, resetting the state if due.
void LzmaEncoder::StartChunk() {
  if (NeedStateReset) ResetState();
  Rc.Reset();
  Rc.Buf = Chunk + Lzma2Header;
  Rc.Pos = 0;
  ChunkUnpacked = 0;
  ChunkOpen = true;
}

// LZMA2: ends the open chunk and hands it on, uncompressed when that is no larger.
void LzmaEncoder::EndChunk() {
  if (!ChunkOpen) return;
  ChunkOpen = false;
  Rc.Flush();
  const uint32_t packed = (uint32_t)Rc.Pos, unpacked = ChunkUnpacked;
  const uint32_t reset = NeedDictReset ? 3 : NeedProps ? 2 : NeedStateReset ? 1 : 0;
  const uint32_t header = reset >= 2 ? 6 : 5;
  if (unpacked <= sizeof Raw && unpacked + 3 <= packed + header) {
    uint8_t *c = Chunk + Lzma2Header - 3;
    c[0] = NeedDictReset ? 1 : 2;
    c[1] = (uint8_t)((unpacked - 1) >> 8);
    c[2] = (uint8_t)(unpacked - 1);
    memcpy(c + 3, Raw, unpacked);
    Sink(Context, c, unpacked + 3);
    NeedDictReset = false;
    NeedStateReset = true;  // the decoder's state went on without these bytes
    return;
  }
  uint8_t *c = Chunk + Lzma2Header - header;
  c[0] = (uint8_t)(0x80 | reset << 5 | (unpacked - 1) >> 16);
  c[1] = (uint8_t)((unpacked - 1) >> 8);
  c[2] = (uint8_t)(unpacked - 1);
  c[3] = (uint8_t)((packed - 1) >> 8);
  c[4] = (uint8_t)(packed - 1);
  if (header == 6) c[5] = LzmaPropertiesByte(Set);
  Sink(Context, c, header + packed);
  NeedDictReset = NeedProps = NeedStateReset = false;
}

// Codes the input: all of it, or (all false) as far as keeps Lookahead bytes
// ahead of every parse, so that the choices never depend on how the input came.
void LzmaEncoder::Run(bool all) {
  for (;;) {
    if (PathIndex < PathCount) {
      CodeSymbol(Path[PathIndex++]);
      continue;
    }
    uint64_t ahead = Mf.Position() + Mf.Available() - Done;
    if (!ahead || (!all && ahead < Lookahead)) return;
    Parse();
  }
}

uint64_t LzmaEncoderMemory(const LzmaEncoderSettings &settings) {
  return sizeof(LzmaEncoder) + LzmaMatchFinder::MemoryNeeded(settings.DictSize, Lookahead);
}

LzmaEncoder *LzmaEncoderCreate(const LzmaEncoderSettings &settings, LzmaFormat format, LzmaSink sink, void *context) {
  if (settings.DictSize < LzmaMinDictionary || settings.DictSize > (3u << 29) || settings.Lc + settings.Lp > 4 ||
      settings.Pb > 4 || settings.NiceLen < 8 || settings.NiceLen > LzmaMatchMax)
    return nullptr;
  LzmaEncoder *e = (LzmaEncoder *)TryAllocateMemory(sizeof(LzmaEncoder));
  if (!e) return nullptr;
  memset((void *)e, 0, offsetof(LzmaEncoder, Opt));
  e->Set = settings;
  e->Format = format;
  e->PbMask = (1u << settings.Pb) - 1;
  e->LpMask = (1u << settings.Lp) - 1;
  e->Nice = settings.NiceLen;
  if (!e->Mf.Init(settings.DictSize, settings.NiceLen, settings.Depth, Lookahead)) {
    ReleaseMemory(e);
    return nullptr;
  }
  BuildProbPrices(e->ProbPrices);
  e->ResetState();
  e->Sink = sink;
  e->Context = context;
  e->Rc.Reset();
  e->Rc.Sink = sink;
  e->Rc.Context = context;
  if (format == LzmaFormat::Lzma1) {
    e->Rc.Buf = e->Out;
    e->Rc.Cap = OutSize;
  } else {
    e->Rc.Cap = sizeof e->Chunk - Lzma2Header;
    e->NeedDictReset = e->NeedProps = e->NeedStateReset = true;
  }
  return e;
}

void LzmaEncoderFeed(LzmaEncoder *e, const uint8_t *data, size_t count) {
  while (count) {
    size_t n = e->Mf.Append(data, count);
    data += n;
    count -= n;
    e->Run(false);
  }
}

void LzmaEncoderFlushMember(LzmaEncoder *e) {
  e->Run(true);
  if (e->Format == LzmaFormat::Lzma2) e->EndChunk();
}

void LzmaEncoderFinish(LzmaEncoder *e) {
  e->Run(true);
  if (e->Format == LzmaFormat::Lzma1) {
    e->CodeMatch(MarkerDistance, 2);
    e->Rc.Flush();
    if (e->Rc.Pos) e->Sink(e->Context, e->Out, e->Rc.Pos);
    e->Rc.Pos = 0;
  } else {
    e->EndChunk();
    uint8_t end = 0;
    e->Sink(e->Context, &end, 1);
  }
}

void LzmaEncoderFree(LzmaEncoder *e) {
  if (!e) return;
  e->Mf.Release();
  ReleaseMemory(e);
}

uint8_t LzmaPropertiesByte(const LzmaEncoderSettings &settings) {
  return (uint8_t)((settings.Pb * 5 + settings.Lp) * 9 + settings.Lc);
}

void LzmaWriteHeader(const LzmaEncoderSettings &settings, uint8_t header[LzmaHeaderSize]) {
  header[0] = 1;  // this encoder's version, 1.0: readers do not look at it
  header[1] = 0;
  PutLE16(header + 2, 5);
  header[4] = LzmaPropertiesByte(settings);
  PutLE32(header + 5, settings.DictSize);
}
