// core_host.h -- the decoding core's shared state and I/O routines over memory buffers, for native programs.
#ifndef SFXKIT_TESTS_HOST_CORE_HOST_H
#define SFXKIT_TESTS_HOST_CORE_HOST_H
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "sfxcore.h"

struct HostIo {
  const uint8_t *Input = nullptr;      // the "archive": ReadArchive hands out these bytes in order
  size_t InputSize = 0;                // bytes in Input
  size_t InputPos = 0;                 // next byte ReadArchive hands out
  uint32_t ReadLimit = 0;              // most bytes one ReadArchive returns (0: as many as asked)
  uint32_t ReadCalls = 0;              // ReadArchive calls made
  uint64_t LargestRequest = 0;         // largest count ever asked of ReadArchive
  bool KeepOutput = true;              // collect the output bytes (the benchmark only counts them)
  std::vector<uint8_t> Output;         // what WriteOutput received, in order
  std::vector<uint32_t> Pieces;        // the count of every WriteOutput call
  uint64_t OutputBytes = 0;            // total bytes written
  uint32_t RefusePiece = 0;            // WriteOutput refuses its call number RefusePiece (1-based; 0: none)
  DecodeResult Result = DecodeResult::Done;  // what the last HostInflate or HostLzmaDecode returned
};

extern HostIo Host;

// Points ReadArchive at data and clears the recorded output.
void HostReset(const uint8_t *data, size_t size);

// Builds the CRC-32 and fixed-code tables, once per process. HostInflate does it
// itself; whatever encrypts before the first HostInflate calls it first.
void HostBuildTables();

// Decodes data as one member: CompressedLeft = compressedLeft, EntryCrc = 0xFFFFFFFF,
// EntryEncrypted = encrypted (CryptKeys as the caller left them). The output is in
// Host.Output, Inflate's result in Host.Result; returns the finished CRC-32.
uint32_t HostInflate(const uint8_t *data, size_t size, int64_t compressedLeft, bool encrypted = false);
inline uint32_t HostInflate(const std::vector<uint8_t> &data) {
  return HostInflate(data.data(), data.size(), (int64_t)data.size());
}
// The same for an LZMA member (method 14) of uncompressedSize bytes.
uint32_t HostLzmaDecode(const uint8_t *data, size_t size, int64_t compressedLeft, uint64_t uncompressedSize,
                        bool encrypted = false);
// The same for the next member of a solid block, the block's state carried over.
uint32_t HostSolidDecode(const uint8_t *data, size_t size, uint64_t uncompressedSize);
#endif
