// inflate_fuzzer.cpp -- libFuzzer target: Inflate on arbitrary bytes, checked against zlib's raw inflate.
//
// Whatever the input, Inflate must end, stay inside its buffers (the sanitizers
// watch), write its output in 32768-byte pieces with the CRC over exactly those
// bytes, and agree with zlib: byte for byte wherever both decoded, and in full
// whenever zlib decodes the input to the end of a last block.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

#include "core_host.h"
#include "test_support.h"

namespace {

void Fail(const char *what) {
  fprintf(stderr, "inflate fuzzer: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Some inputs also take the archive's short-read and early-end paths.
  Host.ReadLimit = (size % 3 == 0 && size > 0) ? 1u + data[size - 1] : 0u;
  int64_t left = (size % 5 == 1) ? (int64_t)size + 100 : (int64_t)size;
  uint32_t crc = HostInflate(data, size, left);
  Host.ReadLimit = 0;

  if (Host.InputPos > size) Fail("read past the member");
  for (size_t i = 0; i + 1 < Host.Pieces.size(); i++)
    if (Host.Pieces[i] != 32768) Fail("a piece before the last is not 32768 bytes");
  if (!Host.Pieces.empty() && (Host.Pieces.back() == 0 || Host.Pieces.back() > 32768)) Fail("bad last piece");
  if ((uint32_t)crc32(0, Host.Output.data(), (uInt)Host.Output.size()) != crc) Fail("CRC differs from the output");

  Bytes reference;
  bool complete = ZlibInflate(Bytes(data, data + size), reference);
  size_t common = reference.size() < Host.Output.size() ? reference.size() : Host.Output.size();
  for (size_t i = 0; i < common; i++)
    if (reference[i] != Host.Output[i]) Fail("output differs from zlib's");
  if (complete && reference.size() != Host.Output.size()) Fail("zlib decoded the stream completely, Inflate did not");
  return 0;
}
