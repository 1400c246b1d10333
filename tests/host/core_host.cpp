// core_host.cpp -- ReadArchive, WriteOutput and OutOfMemory of native builds, over memory.
#include "core_host.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "crc32.h"
#include "inflate.h"
#include "lzmadec.h"
#include "sfxcore.h"

HostIo Host;

uint32_t ReadArchive(void *buffer, uint32_t count) {
  Host.ReadCalls++;
  if (count > Host.LargestRequest) Host.LargestRequest = count;
  size_t left = Host.InputSize - Host.InputPos;
  size_t n = count < left ? count : left;
  if (Host.ReadLimit && n > Host.ReadLimit) n = Host.ReadLimit;
  if (n) memcpy(buffer, Host.Input + Host.InputPos, n);
  Host.InputPos += n;
  return (uint32_t)n;
}

bool WriteOutput(const uint8_t *data, uint32_t count) {
  if (Host.RefusePiece && Host.Pieces.size() + 1 == Host.RefusePiece) return false;
  Host.Pieces.push_back(count);
  Host.OutputBytes += count;
  if (Host.KeepOutput) Host.Output.insert(Host.Output.end(), data, data + count);
  return true;
}

void OutOfMemory() {
  fputs("out of memory\n", stderr);
  abort();
}

void HostReset(const uint8_t *data, size_t size) {
  Host.Input = data;
  Host.InputSize = size;
  Host.InputPos = 0;
  Host.ReadCalls = 0;
  Host.LargestRequest = 0;
  Host.Output.clear();
  Host.Pieces.clear();
  Host.OutputBytes = 0;
  OutputLeft = ~(uint64_t)0;  // a decoder called on its own is not bounded by a declared size
}

void HostBuildTables() {
  static bool tablesBuilt = false;
  if (tablesBuilt) return;
  BuildCrcTable();
  BuildFixedTables();
  tablesBuilt = true;
}

// Sets up the member's state for a decoder; its caller runs it and finishes the CRC.
static void StartMember(const uint8_t *data, size_t size, int64_t compressedLeft, bool encrypted) {
  HostBuildTables();
  HostReset(data, size);
  CompressedLeft = compressedLeft;
  EntryCrc = 0xFFFFFFFFu;
  EntryEncrypted = encrypted;
}

uint32_t HostInflate(const uint8_t *data, size_t size, int64_t compressedLeft, bool encrypted) {
  StartMember(data, size, compressedLeft, encrypted);
  Host.Result = Inflate();
  return EntryCrc ^ 0xFFFFFFFFu;
}

uint32_t HostLzmaDecode(const uint8_t *data, size_t size, int64_t compressedLeft, uint64_t uncompressedSize,
                        bool encrypted) {
  StartMember(data, size, compressedLeft, encrypted);
  Host.Result = LzmaDecode(uncompressedSize);
  return EntryCrc ^ 0xFFFFFFFFu;
}

uint32_t HostSolidDecode(const uint8_t *data, size_t size, uint64_t uncompressedSize) {
  StartMember(data, size, (int64_t)size, false);
  Host.Result = SolidDecode(uncompressedSize);
  return EntryCrc ^ 0xFFFFFFFFu;
}
