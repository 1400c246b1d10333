// crc32.h -- the CRC-32 of the ZIP format (reflected polynomial 0xEDB88320): the byte step and the buffer routine.
#ifndef SFXKIT_CORE_CRC32_H
#define SFXKIT_CORE_CRC32_H
#include <stdint.h>

extern uint32_t CrcTable[256];   // filled by BuildCrcTable, read-only afterwards

void BuildCrcTable();
// One raw table step: no starting value, no final complement.
uint32_t UpdateCrc(uint8_t octet, uint32_t crc);
// UpdateCrc over the first length bytes; a length of 0 or less changes nothing.
void UpdateCrcBuffer(const uint8_t *buffer, int32_t length, uint32_t &crc);
#endif
