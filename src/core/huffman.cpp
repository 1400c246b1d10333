// huffman.cpp -- builds and releases the multi-level decoding tables of canonical Huffman codes.
#include "huffman.h"

#include "sfxcore.h"

enum {
  MaxCodeBits = 16,    // longest code length a set may contain
  MaxCodes = 288,      // most lengths in one set (the literal/length alphabet)
  EndOfBlock = 256,    // the literal/length value that ends a block
};

// Allocates a table of 2^bits entries behind its header and makes it the newest
// of the set: the header links to the table built before it.
static HuffmanEntry *NewTable(unsigned bits, HuffmanEntry **listHead) {
  HuffmanEntry *block = (HuffmanEntry *)AllocateMemory(((1u << bits) + 1) * sizeof(HuffmanEntry));
  block->Op = 0;
  block->Bits = 0;
  block->Base = 0;
  block->SubTable = *listHead;
  *listHead = block + 1;
  return block + 1;
}

// Builds the tables of one code set from its code lengths (n of them, each 0..16).
// Values below s are simple (literals, 256 = end of block, or code-length
// symbols); a value v of s or more takes its extra-bit count and base from
// extra[v - s] and base[v - s], so the caller must pass tables that long.
// *lookupBits asks for a first-level size and returns the size built. Each table
// is linked into *listHead (set to none by the caller) for FreeHuffmanTables.
// Returns HuffmanOversubscribed before allocating anything when the lengths ask
// for more codes than exist; HuffmanIncomplete when codes of the longest length
// are left over (their entries decode as Op 99), unless the set is a single code
// of one bit; HuffmanComplete otherwise, and when every length is 0 (no table).
// With fast, it also fills that one-probe table of 1 << fastBits entries (see
// huffman.h) whenever it builds tables: every pattern belongs to one code, dummy
// codes included, so every entry is written.
int BuildHuffmanTable(const uint16_t *lengths, unsigned n, unsigned s, const uint16_t *base,
                      const uint8_t *extra, HuffmanEntry **listHead, HuffmanEntry **table,
                      int *lookupBits, uint32_t *fast, unsigned fastBits) {
  unsigned count[MaxCodeBits + 1];   // codes of each length, then with the dummy codes added
  unsigned offset[MaxCodeBits + 1];  // where each length starts in values; then the code stack
  unsigned values[MaxCodes];         // the values with a code, by length then by value
  HuffmanEntry *stack[MaxCodeBits];  // the open table at each depth
  int levelBits[MaxCodeBits + 1];    // bits of the table at each depth, shifted so [-1] exists
  int *l = levelBits + 1;

  if (n > MaxCodes) n = MaxCodes;
  unsigned el = n > EndOfBlock ? (unsigned)lengths[EndOfBlock] : (unsigned)MaxCodeBits;  // length of the end-of-block code

  for (unsigned j = 0; j <= MaxCodeBits; j++) count[j] = 0;
  for (unsigned v = 0; v < n; v++) count[lengths[v] <= MaxCodeBits ? lengths[v] : 0]++;
  if (count[0] == n) {
    *table = nullptr;
    *lookupBits = 0;
    return HuffmanComplete;
  }

  int k = 1;
  while (count[k] == 0) k++;
  int g = MaxCodeBits;
  while (count[g] == 0) g--;
  int m = *lookupBits;
  if (m < k) m = k;
  if (m > g) m = g;

  // Count the codes left unassigned; they become dummy codes of the longest length.
  int y = 1 << k;
  for (int j = k; j < g; j++, y <<= 1)
    if ((y -= (int)count[j]) < 0) return HuffmanOversubscribed;
  if ((y -= (int)count[g]) < 0) return HuffmanOversubscribed;
  count[g] += (unsigned)y;

  offset[1] = 0;
  for (int j = 1; j < g; j++) offset[j + 1] = offset[j] + count[j];
  unsigned listed = 0;
  for (unsigned v = 0; v < n; v++) {
    unsigned len = lengths[v];
    if (len != 0 && len <= MaxCodeBits) {
      values[offset[len]++] = v;
      listed++;
    }
  }

  // Walk the codes in canonical order, i holding the current code bit-reversed.
  unsigned i = 0;
  unsigned next = 0;  // index into values of the next value to place
  int h = -1;
  int w = 0;
  l[-1] = 0;
  offset[0] = 0;
  HuffmanEntry *q = nullptr;
  unsigned z = 0;
  *table = nullptr;
  for (; k <= g; k++) {
    unsigned a = count[k];
    while (a--) {
      while (k > w + l[h]) {
        w += l[h++];
        unsigned limit = (unsigned)(g - w) > (unsigned)m ? (unsigned)m : (unsigned)(g - w);
        unsigned j = (unsigned)(k - w);
        unsigned f = 1u << j;
        if (f > a + 1) {
          // Too few codes of this length to fill a table of j bits: grow it while
          // the longer codes would leave it with unused entries.
          f -= a + 1;
          unsigned *c = count + k;
          while (++j < limit) {
            if ((f <<= 1) <= *++c) break;
            f -= *c;
          }
        }
        if ((unsigned)w + j > el && (unsigned)w < el) j = el - (unsigned)w;  // end-of-block code ends a table
        z = 1u << j;
        l[h] = (int)j;
        q = NewTable(j, listHead);
        stack[h] = q;
        if (h == 0) {
          *table = q;
        } else {
          offset[h] = i;  // pattern to back up to
          HuffmanEntry link;
          link.Op = (int8_t)(16 + j);
          link.Bits = (int8_t)l[h - 1];
          link.Base = 0;
          link.SubTable = q;
          stack[h - 1][(i & ((1u << w) - 1)) >> (w - l[h - 1])] = link;
        }
      }

      HuffmanEntry r;
      r.Bits = (int8_t)(k - w);
      r.SubTable = nullptr;
      if (next >= listed) {
        r.Op = 99;  // dummy code: the lengths left it unassigned
        r.Base = 0;
      } else if (values[next] < s) {
        r.Op = (int8_t)(values[next] == EndOfBlock ? 15 : 16);
        r.Base = (uint16_t)values[next++];
      } else {
        r.Op = (int8_t)extra[values[next] - s];
        r.Base = base[values[next++] - s];
      }

      unsigned f = 1u << (k - w);
      for (unsigned j = i >> w; j < z; j += f) q[j] = r;
      if (fast) {
        // A code longer than the fast table writes 0 once, at its first bits; so
        // do the end of block (op 15) and unassigned or invalid codes (op 99).
        uint32_t packed = 0;
        if ((unsigned)k <= fastBits && r.Op != 15 && r.Op <= 16)
          packed = (uint32_t)r.Base << 16 | (unsigned)k << 8 | (unsigned)(k + r.Op);
        for (unsigned j = i & ((1u << fastBits) - 1); j < (1u << fastBits); j += 1u << k) fast[j] = packed;
      }

      unsigned bit = 1u << (k - 1);
      while (i & bit) {
        i ^= bit;
        bit >>= 1;
      }
      i ^= bit;

      while ((i & ((1u << w) - 1)) != offset[h]) {
        w -= l[--h];
        q = stack[h];
        z = 1u << l[h];
      }
    }
  }

  *lookupBits = l[0];
  return (y != 0 && g != 1) ? HuffmanIncomplete : HuffmanComplete;
}

void FreeHuffmanTables(HuffmanEntry *listHead) {
  while (listHead) {
    HuffmanEntry *older = listHead[-1].SubTable;
    ReleaseMemory(listHead - 1);
    listHead = older;
  }
}
