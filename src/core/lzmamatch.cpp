// lzmamatch.cpp -- the LZMA encoder's binary-tree match finder over a sliding window.
#include "lzmamatch.h"

#include <string.h>

#include "sfxcore.h"

namespace {

enum : uint32_t {
  Hash2Bits = 10,            // small enough to stay in the first-level cache
  Hash2Size = 1 << Hash2Bits,
  Hash3Bits = 16,
  Hash3Size = 1 << Hash3Bits,
  Slack = 16,                // readable zero bytes behind the window, for word-wise compares
  RenumberAt = 0xE0000000u,  // positions are renumbered when the count reaches this
  HeadAhead = 16,            // positions ahead whose 4-byte head is fetched into the cache
  NodeAhead = 8,             // and whose first tree candidate is
};

inline uint32_t Load32(const uint8_t *p) { return GetLE32(p); }
inline uint32_t Hash2(const uint8_t *p) { return ((p[0] | (uint32_t)p[1] << 8) * 0x9E3779B1u) >> (32 - Hash2Bits); }
inline uint32_t Hash3(const uint8_t *p) { return ((Load32(p) & 0xFFFFFF) * 0x9E3779B1u) >> (32 - Hash3Bits); }
inline uint32_t Hash4(const uint8_t *p, uint32_t bits) { return (Load32(p) * 0x9E3779B1u) >> (32 - bits); }

uint32_t HashBits(uint32_t dictSize) {
  uint32_t bits = 16;
  while (bits < 24 && (1u << (bits + 1)) < dictSize) bits++;
  return bits;
}

size_t WindowSize(uint32_t dictSize, uint32_t lookahead) {
  // The history, the lookahead, and a block of new input between moves.
  uint32_t block = dictSize / 2 > (1u << 16) ? dictSize / 2 : (1u << 16);
  return (size_t)dictSize + Slack + lookahead + block;
}

}  // namespace

uint64_t LzmaMatchFinder::MemoryNeeded(uint32_t dictSize, uint32_t lookahead) {
  uint64_t entries = (uint64_t)Hash2Size + Hash3Size + (1ull << HashBits(dictSize)) + 2ull * (dictSize + 1ull);
  return WindowSize(dictSize, lookahead) + Slack + 4 * entries;
}

bool LzmaMatchFinder::Init(uint32_t dictSize, uint32_t niceLen, uint32_t depth, uint32_t lookahead) {
  Release();
  uint64_t bytes = MemoryNeeded(dictSize, lookahead);
  if (dictSize > (3u << 29) || bytes != (size_t)bytes) return false;
  block_ = (uint8_t *)TryAllocateTable((size_t)bytes);
  if (!block_) return false;
  hash4Bits_ = HashBits(dictSize);
  cyclicSize_ = dictSize + 1;
  bufSize_ = WindowSize(dictSize, lookahead);
  // The tables first (4-byte aligned), then the window.
  head2_ = (uint32_t *)block_;
  head3_ = head2_ + Hash2Size;
  head4_ = head3_ + Hash3Size;
  son_ = head4_ + (1u << hash4Bits_);
  buf_ = (uint8_t *)(son_ + 2ull * cyclicSize_);
  // 0 is "no position": the first position is numbered cyclicSize_, so that
  // every empty entry lies beyond the dictionary.
  // Only the heads start empty: a tree node is written when its position is
  // inserted (or cleared when it is passed over) before anything can reach it,
  // and window bytes are read only once appended. Untouched pages cost nothing.
  memset(head2_, 0, 4ull * (Hash2Size + Hash3Size + (1ull << hash4Bits_)));
  memset(buf_ + bufSize_, 0, Slack);
  pos_ = end_ = 0;
  bufStart_ = 0;
  keepBack_ = dictSize + Slack;
  lpos_ = cyclicSize_;
  cyclic_ = 0;
  nice_ = niceLen < 4 ? 4 : niceLen > LzmaMatchMax ? LzmaMatchMax : niceLen;
  depth_ = depth ? depth : 1;
  return true;
}

void LzmaMatchFinder::Release() {
  if (block_) ReleaseMemory(block_);
  block_ = nullptr;
}

size_t LzmaMatchFinder::Append(const uint8_t *data, size_t count) {
  if (end_ == bufSize_ && pos_ > keepBack_) {
    size_t drop = pos_ - keepBack_;
    memmove(buf_, buf_ + drop, end_ - drop);
    pos_ -= drop;
    end_ -= drop;
    bufStart_ += drop;
  }
  size_t n = bufSize_ - end_ < count ? bufSize_ - end_ : count;
  memcpy(buf_ + end_, data, n);
  end_ += n;
  return n;
}

void LzmaMatchFinder::Renumber() {
  // Subtracting the same amount from every entry keeps every distance; entries
  // that fall out of reach become 0, which stays out of reach.
  const uint32_t sub = lpos_ - cyclicSize_;
  uint32_t *tables[] = {head2_, son_};
  uint64_t sizes[] = {(uint64_t)Hash2Size + Hash3Size + (1ull << hash4Bits_), 2ull * cyclicSize_};
  for (int t = 0; t < 2; t++)
    for (uint64_t i = 0; i < sizes[t]; i++) tables[t][i] = tables[t][i] > sub ? tables[t][i] - sub : 0;
  lpos_ -= sub;
}

// Moves on by one. The 4-byte heads and the tree are far larger than the
// caches, and every position starts its descent with a miss on its head, then
// on the node and the bytes of the candidate found there; the 3-byte heads
// outgrow the nearer caches too, and their candidate's bytes are as far off.
// All are known some positions ahead, so they are asked for here, to be at
// hand when that position's turn comes. (A head that changes meanwhile only
// makes a prefetch useless, never a result different.) The prefetches stay in
// this body: GCC 12 dropped them from a small inline member function of their
// own.
inline void LzmaMatchFinder::Advance() {
  if (end_ - pos_ >= (size_t)HeadAhead + 4) {
    __builtin_prefetch(head4_ + Hash4(buf_ + pos_ + HeadAhead, hash4Bits_));
    __builtin_prefetch(head3_ + Hash3(buf_ + pos_ + HeadAhead));
    uint32_t delta3 = lpos_ + NodeAhead - head3_[Hash3(buf_ + pos_ + NodeAhead)];
    if (delta3 > NodeAhead && delta3 < cyclicSize_) __builtin_prefetch(buf_ + pos_ + NodeAhead - delta3);
    uint32_t delta = lpos_ + NodeAhead - head4_[Hash4(buf_ + pos_ + NodeAhead, hash4Bits_)];
    if (delta > NodeAhead && delta < cyclicSize_) {
      uint32_t at = cyclic_ + NodeAhead < cyclicSize_ ? cyclic_ + NodeAhead : cyclic_ + NodeAhead - cyclicSize_;
      __builtin_prefetch(son_ + 2 * (at >= delta ? at - delta : at + cyclicSize_ - delta));
      __builtin_prefetch(buf_ + pos_ + NodeAhead - delta);
    }
  }
  pos_++;
  if (++cyclic_ == cyclicSize_) cyclic_ = 0;
  if (++lpos_ == RenumberAt) Renumber();
}

// Inserts the current position into the tree rooted at its 4-byte head,
// comparing up to limit (nice_) bytes; records into out (when not null) every
// candidate longer than maxLen met on the way. A candidate equal for all
// `limit` bytes is replaced by the new position, which takes over its children.
// Returns how many matches it recorded.
uint32_t LzmaMatchFinder::TreeInsert(const uint8_t *cur, uint32_t limit, uint32_t maxLen, LzmaMatch *out) {
  // (Copies of the members: the stores through the tree's pointers below
  // could otherwise change them, for all the compiler knows.)
  const uint32_t lpos = lpos_, cyclic = cyclic_, cyclicSize = cyclicSize_;
  uint32_t *const son = son_;
  uint32_t h4 = Hash4(cur, hash4Bits_);
  uint32_t candidate = head4_[h4];
  head4_[h4] = lpos;
  uint32_t *smaller = son + 2 * cyclic;    // where the next candidate below cur hangs
  uint32_t *larger = smaller + 1;          // and above it
  uint32_t lenSmaller = 0, lenLarger = 0;  // bytes every candidate below/above shares with cur
  uint32_t found = 0;
  for (uint32_t depth = depth_;; depth--) {
    uint32_t delta = lpos - candidate;
    if (depth == 0 || delta >= cyclicSize) {
      *smaller = *larger = 0;
      return found;
    }
    uint32_t *pair = son + 2 * (cyclic >= delta ? cyclic - delta : cyclic + cyclicSize - delta);
    const uint8_t *p = cur - delta;
    uint32_t len = lenSmaller < lenLarger ? lenSmaller : lenLarger;
    if (p[len] == cur[len]) {
      len = LzmaMatchExtend(cur, p, len + 1, limit);
      if (len > maxLen) {
        maxLen = len;
        if (out) out[found++] = {len, delta - 1};
      }
      if (len == limit) {
        *smaller = pair[0];
        *larger = pair[1];
        return found;
      }
    }
    if (p[len] < cur[len]) {
      *smaller = candidate;
      smaller = pair + 1;
      candidate = *smaller;
      lenSmaller = len;
    } else {
      *larger = candidate;
      larger = pair;
      candidate = *larger;
      lenLarger = len;
    }
  }
}

// The same descent without changing the tree, for a position with fewer than
// nice_ bytes after it (limit is what there is).
uint32_t LzmaMatchFinder::TreeSearch(const uint8_t *cur, uint32_t limit, uint32_t maxLen, LzmaMatch *out) const {
  uint32_t candidate = head4_[Hash4(cur, hash4Bits_)];
  uint32_t lenSmaller = 0, lenLarger = 0, found = 0;
  for (uint32_t depth = depth_; depth; depth--) {
    uint32_t delta = lpos_ - candidate;
    if (delta >= cyclicSize_) break;
    const uint32_t *pair = son_ + 2 * (cyclic_ >= delta ? cyclic_ - delta : cyclic_ + cyclicSize_ - delta);
    const uint8_t *p = cur - delta;
    uint32_t len = LzmaMatchExtend(cur, p, lenSmaller < lenLarger ? lenSmaller : lenLarger, limit);
    if (len > maxLen) {
      maxLen = len;
      out[found++] = {len, delta - 1};
    }
    if (len == limit) break;
    if (p[len] < cur[len]) {
      candidate = pair[1];
      lenSmaller = len;
    } else {
      candidate = pair[0];
      lenLarger = len;
    }
  }
  return found;
}

uint32_t LzmaMatchFinder::Find(LzmaMatch *out) {
  const uint8_t *cur = buf_ + pos_;
  const uint32_t avail = Available();
  const bool insert = avail >= nice_;
  const uint32_t limit = insert ? nice_ : avail;
  uint32_t found = 0, maxLen = 1;
  if (avail >= 2) {
    // The closest earlier position with the same two bytes, then with the same
    // three (both by hash, so checked), each taken when it is longer.
    uint32_t h2 = Hash2(cur);
    uint32_t delta2 = lpos_ - head2_[h2];
    if (insert) head2_[h2] = lpos_;
    if (delta2 < cyclicSize_ && cur[-(ptrdiff_t)delta2] == cur[0] && cur[1 - (ptrdiff_t)delta2] == cur[1]) {
      maxLen = LzmaMatchExtend(cur, cur - delta2, 2, limit);
      out[found++] = {maxLen, delta2 - 1};
    }
    if (avail >= 3 && maxLen < limit) {
      uint32_t h3 = Hash3(cur);
      uint32_t delta3 = lpos_ - head3_[h3];
      if (insert) head3_[h3] = lpos_;
      if (delta3 < cyclicSize_ && delta3 != delta2) {
        uint32_t len = LzmaMatchExtend(cur, cur - delta3, 0, limit);
        if (len > maxLen) {
          maxLen = len;
          out[found++] = {len, delta3 - 1};
        }
      }
    } else if (insert) {
      head3_[Hash3(cur)] = lpos_;
    }
    if (insert) {
      // Inserted even when a short search already reached the limit.
      found += TreeInsert(cur, limit, maxLen, maxLen < limit ? out + found : nullptr);
    } else if (avail >= 4 && maxLen < limit) {
      found += TreeSearch(cur, limit, maxLen, out + found);
    }
  }
  if (!insert) son_[2 * cyclic_] = son_[2 * cyclic_ + 1] = 0;
  // A match as long as the comparison limit goes on as far as the data allows.
  if (found && out[found - 1].Len == nice_ && nice_ < LzmaMatchMax) {
    LzmaMatch &m = out[found - 1];
    uint32_t most = avail < LzmaMatchMax ? avail : LzmaMatchMax;
    m.Len = LzmaMatchExtend(cur, cur - m.Dist - 1, m.Len, most);
  }
  Advance();
  return found;
}

void LzmaMatchFinder::Skip(uint32_t count) {
  while (count--) {
    const uint8_t *cur = buf_ + pos_;
    if (Available() >= nice_) {
      head2_[Hash2(cur)] = lpos_;
      head3_[Hash3(cur)] = lpos_;
      TreeInsert(cur, nice_, LzmaMatchMax, nullptr);
    } else {
      son_[2 * cyclic_] = son_[2 * cyclic_ + 1] = 0;
    }
    Advance();
  }
}
