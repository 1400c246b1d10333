// huffman.h -- multi-level lookup tables for canonical Huffman codes (RFC 1951, 3.2.2).
#ifndef SFXKIT_CORE_HUFFMAN_H
#define SFXKIT_CORE_HUFFMAN_H
#include <stdint.h>

struct HuffmanEntry {
  int8_t Op;               // 0..13 extra bits of a length/distance, 15 end of block, 16 literal,
                           // 17..32 continue in SubTable with Op-16 more bits, 99 invalid
  int8_t Bits;             // bits this entry consumes at its level
  uint16_t Base;           // literal byte, code-length symbol, or base length/distance
  HuffmanEntry *SubTable;  // next-level table (Op 17..32); in a table's header: the older table
};

enum { HuffmanComplete = 0, HuffmanIncomplete = 1, HuffmanOversubscribed = 2 };

// A one-probe table BuildHuffmanTable can fill beside the multi-level ones, for
// the decoder's fast loop: entry i describes the code at the bottom of the bit
// pattern i when that code is at most the table's bits long, as value << 16 |
// code bits << 8 | code bits + op (the entry's Op: extra bits of a length or
// distance, 16 for a literal); 0 leaves the symbol to the multi-level tables (a
// longer code, the end of block, an unassigned or invalid code). With at most
// 10 bits a length's code and extra bits stay below 16, so FastLiteral marks
// the literals.
enum : uint32_t { FastLiteral = 16 };

int BuildHuffmanTable(const uint16_t *lengths, unsigned n, unsigned s, const uint16_t *base,
                      const uint8_t *extra, HuffmanEntry **listHead, HuffmanEntry **table,
                      int *lookupBits, uint32_t *fast = nullptr, unsigned fastBits = 0);
void FreeHuffmanTables(HuffmanEntry *listHead);
#endif
