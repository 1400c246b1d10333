// crc32.cpp -- the ZIP CRC-32 (reflected 0xEDB88320): table built at start-up, one byte per step.
#include "crc32.h"

uint32_t CrcTable[256];

void BuildCrcTable() {
  for (uint32_t n = 0; n < 256; n++) {
    uint32_t c = n;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    CrcTable[n] = c;
  }
}

uint32_t UpdateCrc(uint8_t octet, uint32_t crc) { return CrcTable[(crc ^ octet) & 0xFF] ^ (crc >> 8); }

void UpdateCrcBuffer(const uint8_t *buffer, int32_t length, uint32_t &crc) {
  uint32_t c = crc;
  for (int32_t i = 0; i < length; i++) c = UpdateCrc(buffer[i], c);
  crc = c;
}
