// crc32.cpp -- the ZIP CRC-32 (reflected 0xEDB88320): tables built at start-up, eight
// bytes per step, or carry-less multiplication where the processor has it.
#include "crc32.h"

#include "sfxcore.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define CRC_CLMUL 1
#endif

uint32_t CrcTable[256];

// CrcSlices[j - 1][n]: the register after byte n followed by j zero bytes, so
// that eight bytes fold into the register with eight independent lookups
// instead of a chain of eight dependent ones. 7 KB of zeroed data: it costs the
// image nothing. (Sixteen bytes per step would be faster where there is no
// carry-less multiplication, but its code and relocations cost the stub 512
// bytes of file alignment.)
static uint32_t CrcSlices[7][256];
#ifdef CRC_CLMUL
static bool CrcClmul;  // the processor has PCLMULQDQ (CPUID 1, ECX bit 1): checked once at start-up
#endif

void BuildCrcTable() {
  for (uint32_t n = 0; n < 256; n++) {
    uint32_t c = n;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    CrcTable[n] = c;
  }
  for (uint32_t n = 0; n < 256; n++) {
    uint32_t c = CrcTable[n];
    for (int j = 0; j < 7; j++) CrcSlices[j][n] = c = UpdateCrc(0, c);
  }
#ifdef CRC_CLMUL
  unsigned a, b, c, d;
  CrcClmul = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL);
#endif
}

uint32_t UpdateCrc(uint8_t octet, uint32_t crc) { return CrcTable[(crc ^ octet) & 0xFF] ^ (crc >> 8); }

// Byte i of an eight-byte group (the register folded into its first four) is
// looked up in the table that accounts for the 7 - i bytes after it.
static inline uint32_t Crc8Bytes(const uint8_t *p, uint32_t c) {
  uint32_t a = GetLE32(p) ^ c, b = GetLE32(p + 4);
  return CrcSlices[6][a & 0xFF] ^ CrcSlices[5][(a >> 8) & 0xFF] ^ CrcSlices[4][(a >> 16) & 0xFF] ^
         CrcSlices[3][a >> 24] ^ CrcSlices[2][b & 0xFF] ^ CrcSlices[1][(b >> 8) & 0xFF] ^
         CrcSlices[0][(b >> 16) & 0xFF] ^ CrcTable[b >> 24];
}

#ifdef CRC_CLMUL
// Moves a 128-bit remainder x forward over the 128 bits of next (or over 512
// bits with the by512 constants): its two 64-bit halves times x^n mod P for the
// two distances, added to next.
__attribute__((target("pclmul,sse2"))) static inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

__attribute__((target("sse2"))) static inline __m128i Load128(const uint8_t *p) {
  return _mm_loadu_si128((const __m128i *)p);
}

// The register after count bytes (a multiple of 16, at least 32). The register
// is added to the first 16 bytes; folding keeps the residue of the whole message
// in 128 bits, four independent remainders 64 bytes apart while 64 bytes remain
// (one multiplication's latency would otherwise bound the speed), then one. The
// CRC of the last 128 bits from a zero register is the CRC of everything.
__attribute__((target("pclmul,sse2"))) static uint32_t CrcFold(const uint8_t *p, uint32_t count, uint32_t c) {
  const __m128i by128 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0), by512 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
  __m128i x = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128((int)c));
  if (count >= 128) {
    __m128i y = Load128(p + 16), z = Load128(p + 32), w = Load128(p + 48);
    for (; count >= 128; count -= 64) {
      p += 64;
      x = Fold(x, by512, Load128(p));
      y = Fold(y, by512, Load128(p + 16));
      z = Fold(z, by512, Load128(p + 32));
      w = Fold(w, by512, Load128(p + 48));
    }
    x = Fold(Fold(Fold(x, by128, y), by128, z), by128, w);
    p += 48;
    count -= 48;
  }
  for (count -= 16; count; count -= 16) {
    p += 16;
    x = Fold(x, by128, Load128(p));
  }
  uint8_t rest[16];
  _mm_storeu_si128((__m128i *)rest, x);
  return Crc8Bytes(rest + 8, Crc8Bytes(rest, 0));
}
#endif

void UpdateCrcBuffer(const uint8_t *buffer, int32_t length, uint32_t &crc) {
  uint32_t c = crc;
#ifdef CRC_CLMUL
  if (CrcClmul && length >= 32) {
    uint32_t wide = (uint32_t)length & ~15u;
    c = CrcFold(buffer, wide, c);
    buffer += wide;
    length -= (int32_t)wide;
  }
#endif
  for (; length >= 8; length -= 8, buffer += 8) c = Crc8Bytes(buffer, c);
  for (; length > 0; length--) c = UpdateCrc(*buffer++, c);
  crc = c;
}
