// lzmamatch.h -- the LZMA encoder's match finder: a window over the input, hash
// heads over 2, 3 and 4 bytes and a binary tree of earlier positions in a cyclic
// buffer of the dictionary's size.
//
// Every position is looked up once, in order (Find or Skip). A position with at
// least `nice` bytes after it is also inserted into the tree: the tree orders
// the earlier positions by the bytes that follow them (compared up to `nice`),
// so that one descent from the 4-byte hash head visits the closest candidates
// of every length. A position with fewer bytes after it (the last ones before a
// flush or the end of the input) is searched without being inserted: comparing
// it only up to where the input stops would leave the tree misordered for the
// positions that come later. Everything is in 32-bit positions counted from the
// start of the stream (renumbered, with the same results, every ~3.5 GiB), so
// results depend only on the input and the settings, never on how the input
// was handed over or where the window happens to lie in memory.
#ifndef SFXKIT_CORE_LZMAMATCH_H
#define SFXKIT_CORE_LZMAMATCH_H
#include <stddef.h>
#include <stdint.h>
#include <string.h>

enum : uint32_t {
  LzmaMatchMax = 273,              // the longest match LZMA can code
  LzmaMaxPairs = LzmaMatchMax + 8,  // Find writes at most this many matches
};

// A match: its length and its distance less 1.
struct LzmaMatch {
  uint32_t Len;
  uint32_t Dist;
};

// How many bytes a and b have in common, counting from len (known equal) up to
// limit, compared eight at a time.
inline uint32_t LzmaMatchExtend(const uint8_t *a, const uint8_t *b, uint32_t len, uint32_t limit) {
  while (len + 8 <= limit) {
    uint64_t x, y;
    memcpy(&x, a + len, 8);
    memcpy(&y, b + len, 8);
    // Every target is little-endian: the lowest differing bit is in the first differing byte.
    if (x != y) return len + (uint32_t)(__builtin_ctzll(x ^ y) >> 3);
    len += 8;
  }
  while (len < limit && a[len] == b[len]) len++;
  return len;
}

class LzmaMatchFinder {
 public:
  // Bytes Init allocates for these settings: window, hash heads and tree.
  static uint64_t MemoryNeeded(uint32_t dictSize, uint32_t lookahead);
  // Allocates the tables for distances up to dictSize (at most 1.5 GiB); the
  // window keeps `lookahead` bytes ahead of the position besides the history.
  // False when the memory cannot be had.
  bool Init(uint32_t dictSize, uint32_t niceLen, uint32_t depth, uint32_t lookahead);
  void Release();

  // Copies as much of data as the window takes (moving the history down when
  // it is full); returns how many bytes it took. Takes at least one byte when
  // fewer than `lookahead` bytes wait ahead of the position.
  size_t Append(const uint8_t *data, size_t count);
  // Bytes of input from the current position to the end of what was appended.
  uint32_t Available() const { return (uint32_t)(end_ - pos_); }
  // The input byte at stream position `at`, which lies at most dictSize + 16
  // bytes behind the current position and no further ahead than was appended.
  const uint8_t *At(uint64_t at) const { return buf_ + (size_t)(at - bufStart_); }
  uint64_t Position() const { return bufStart_ + pos_; }

  // The matches at the current position, longest last, each longer than the one
  // before and at the closest distance the search met for its length (at least
  // 2, at most LzmaMatchMax, and no longer than the input available); then
  // moves on by one. Returns how many were written to out (LzmaMaxPairs room).
  uint32_t Find(LzmaMatch *out);
  // Moves on by count positions, inserting them as Find would.
  void Skip(uint32_t count);

 private:
  void Advance();
  void Renumber();
  uint32_t TreeInsert(const uint8_t *cur, uint32_t limit, uint32_t maxLen, LzmaMatch *out);
  uint32_t TreeSearch(const uint8_t *cur, uint32_t limit, uint32_t maxLen, LzmaMatch *out) const;

  uint8_t *block_ = nullptr;  // one allocation for everything below
  uint8_t *buf_ = nullptr;    // the window
  uint32_t *head2_ = nullptr, *head3_ = nullptr, *head4_ = nullptr;  // latest position per hash
  uint32_t *son_ = nullptr;   // two children (smaller, larger) per cyclic position
  size_t bufSize_ = 0;        // window bytes (16 readable zero bytes follow)
  size_t pos_ = 0, end_ = 0;  // current position and end of input in the window
  uint64_t bufStart_ = 0;     // stream position of buf_[0]
  uint32_t keepBack_ = 0;     // history kept behind the position when the window moves
  uint32_t lpos_ = 0;         // 32-bit number of the current position in the tables
  uint32_t cyclic_ = 0;       // the current position's index in son_
  uint32_t cyclicSize_ = 0;   // dictSize + 1
  uint32_t hash4Bits_ = 0;
  uint32_t nice_ = 0, depth_ = 0;
};
#endif
