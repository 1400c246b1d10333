// inflate_fuzzer.cpp -- libFuzzer target: Inflate on arbitrary bytes, checked against zlib's raw inflate.
//
// Whatever the input, Inflate must end, never read past the member (guard bytes
// follow it in the archive), stay inside its buffers (the sanitizers watch),
// write its output in 32768-byte pieces with the CRC over exactly those bytes,
// report how it ended, and agree with zlib: the same bytes, and the same number
// of them on every stream, complete, cut short or rejected, except where the
// decoder accepts on purpose what zlib rejects (block type 3, a repeat of the
// previous length at the start). A code-length code of a single one-bit code,
// which only zlib refuses, needs no exception: every length it can give is the
// same, and no such set of 257 or more codes is complete, so the block fails
// here too before it writes anything.
// The input's size picks the archive's behaviour: short reads, an archive that
// ends inside the member, traditional encryption.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "core_host.h"
#include "crypt.h"
#include "test_support.h"

namespace {

void Fail(const char *what) {
  fprintf(stderr, "inflate fuzzer: %s\n", what);
  abort();
}

enum : size_t { GuardBytes = 64 };

// zlib's reasons for what this decoder takes as valid (see above).
bool DecoderAcceptsOnPurpose(const char *message) {
  return message && (!strcmp(message, "invalid block type") || !strcmp(message, "invalid bit length repeat"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  bool shortReads = size % 3 == 0 && size > 0;
  bool endsEarly = size % 5 == 1;
  bool encrypted = size % 7 == 2;
  Bytes archive(data, data + size);
  HostBuildTables();  // the keys' updates read the CRC table
  if (encrypted) {
    InitKeys("fuzz", 4);
    EncryptBuffer(archive.data(), (uint32_t)size);
    InitKeys("fuzz", 4);
  }
  if (!endsEarly) archive.insert(archive.end(), GuardBytes, 0xA5);
  Host.ReadLimit = shortReads ? 1u + data[size - 1] : 0u;
  uint32_t crc = HostInflate(archive.data(), archive.size(), endsEarly ? (int64_t)size + 100 : (int64_t)size, encrypted);
  Host.ReadLimit = 0;

  if (Host.InputPos > size) Fail("read past the member");
  for (size_t i = 0; i + 1 < Host.Pieces.size(); i++)
    if (Host.Pieces[i] != 32768) Fail("a piece before the last is not 32768 bytes");
  if (!Host.Pieces.empty() && (Host.Pieces.back() == 0 || Host.Pieces.back() > 32768)) Fail("bad last piece");
  if ((uint32_t)crc32(0, Host.Output.data(), (uInt)Host.Output.size()) != crc) Fail("CRC differs from the output");

  Bytes reference;
  const char *rejected = nullptr;
  bool complete = ZlibInflate(Bytes(data, data + size), reference, &rejected);
  size_t common = reference.size() < Host.Output.size() ? reference.size() : Host.Output.size();
  if (common && memcmp(reference.data(), Host.Output.data(), common) != 0) Fail("output differs from zlib's");
  if (complete && Host.Result != DecodeResult::Done) Fail("zlib decoded the stream completely, Inflate did not");
  if (!DecoderAcceptsOnPurpose(rejected) && reference.size() != Host.Output.size())
    Fail("output length differs from zlib's");
  if (Host.Result == DecodeResult::ArchiveEnded && !endsEarly) Fail("archive ended with the member still inside it");
  return 0;
}
