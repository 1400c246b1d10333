// lzma_fuzzer.cpp -- libFuzzer target: LzmaDecode on arbitrary bytes, checked against liblzma's raw LZMA1 decoder.
//
// An input is the member's uncompressed size (4 bytes, little-endian, kept
// below 1 MiB) followed by the member's data: the 9-byte method-14 header and
// the raw stream. Whatever it holds, LzmaDecode must end, never read past the
// member (guard bytes follow it in the archive), stay inside its buffers (the
// sanitizers watch), write pieces of at most LzmaPieceSize bytes with the CRC
// over exactly those bytes, and agree with liblzma, given the same size and
// told that an end marker may follow it: the same output bytes, Done exactly
// when liblzma ends the stream, the same count of input bytes used then and
// (with the exceptions below) on a damaged stream. Both decoders check a symbol
// only once it is whole, so a damaged or cut stream yields the same output from
// both; they differ in the name of the failure (liblzma waits for input the
// member lacks, which here is BadData or ArchiveEnded). liblzma refuses lc + lp above 4, which the format allows
// and this decoder takes: such inputs are only checked for the rules above.
// The input's size picks the archive's behaviour: short reads, an archive that
// ends inside the member, traditional encryption; and one size in 11 reads the
// data as a solid member instead (SolidDecode: the head byte, LZMA2 chunks),
// which must keep the same rules and, when Done, give liblzma's raw LZMA2
// decoder's output from all of its chunks.
#include <lzma.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "core_host.h"
#include "crc32.h"
#include "crypt.h"
#include "lzmadec.h"
#include "zipformat.h"
#include "test_support.h"

namespace {

void Fail(const char *what) {
  fprintf(stderr, "lzma fuzzer: %s\n", what);
  abort();
}

enum : size_t { GuardBytes = 64, MaxOutput = 1 << 20 };

// liblzma's decoding of the member data: its output and how it ended (STREAM_END
// for a whole stream, DATA_ERROR for a damaged one, BUF_ERROR for one that
// needs more input), the member bytes it used in *used. False when liblzma
// refuses the properties (lc + lp above 4).
bool LiblzmaDecode(const Bytes &member, uint64_t size, Bytes &output, lzma_ret *ret, size_t *used) {
  output.clear();
  *used = 0;
  if (member.size() < 9 || member[2] != 5 || member[3] != 0 || member[4] >= 225) {
    *ret = LZMA_DATA_ERROR;
    return true;
  }
  lzma_options_lzma options{};
  unsigned properties = member[4];
  options.lc = properties % 9;
  options.lp = properties / 9 % 5;
  options.pb = properties / 45;
  if (options.lc + options.lp > LZMA_LCLP_MAX) return false;
  // The same distances stay valid with the dictionary cut to the size, which
  // spares liblzma a declared 4 GiB.
  uint32_t dict = GetLE32(member.data() + 5);
  uint64_t cap = size < 4096 ? 4096 : size;
  options.dict_size = dict < cap ? dict : (uint32_t)cap;
  options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  options.ext_size_low = (uint32_t)size;
  options.ext_size_high = (uint32_t)(size >> 32);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream z = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&z, filters) != LZMA_OK) Fail("liblzma refused a decoder");
  output.resize(size + 1);
  z.next_in = member.data() + 9;
  z.avail_in = member.size() - 9;
  z.next_out = output.data();
  z.avail_out = output.size();
  do *ret = lzma_code(&z, LZMA_FINISH);
  while (*ret == LZMA_OK);
  output.resize(z.total_out);
  *used = 9 + (size_t)z.total_in;
  lzma_end(&z);
  return true;
}

// A solid member that opens its block (SolidDecode) against liblzma's LZMA2
// decoder with the head byte's dictionary (capped at 1 MiB: no distance of a
// member this small reaches further).
int SolidCase(const uint8_t *data, size_t size, uint64_t uncompressed) {
  Bytes archive(data, data + size);
  archive[0] |= SolidOpensBlock;
  archive[0] &= 0x80 | 31;  // dictionary codes up to 16 MiB, so that the block never needs much
  archive.insert(archive.end(), GuardBytes, 0xA5);
  uint32_t crc = HostSolidDecode(archive.data(), size, uncompressed);
  DecodeResult result = Host.Result;
  SolidRelease();
  if (Host.InputPos > size) Fail("solid: read past the member");
  if (result == DecodeResult::NoMemory) Fail("solid: no memory for a small block");
  for (uint32_t piece : Host.Pieces)
    if (!piece || piece > LzmaPieceSize) Fail("solid: a piece is empty or too large");
  if (Host.Output.size() > uncompressed) Fail("solid: more output than the size");
  if ((uint32_t)crc32(0, Host.Output.data(), (uInt)Host.Output.size()) != crc) Fail("solid: CRC differs");
  if (result != DecodeResult::Done) return 0;
  if (CompressedLeft != 0) Fail("solid: Done with member bytes left");
  lzma_options_lzma options{};
  options.dict_size = 1 << 20;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream z = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&z, filters) != LZMA_OK) Fail("liblzma refused an LZMA2 decoder");
  Bytes reference(uncompressed + 1);
  z.next_in = data + 1;
  z.avail_in = size - 1;
  z.next_out = reference.data();
  z.avail_out = reference.size();
  lzma_ret ret;
  do ret = lzma_code(&z, LZMA_RUN);
  while (ret == LZMA_OK && z.avail_in && z.avail_out);
  reference.resize(z.total_out);
  size_t used = (size_t)z.total_in;
  lzma_end(&z);
  if (ret != LZMA_OK || used != size - 1 || reference != Host.Output) Fail("solid: differs from liblzma's LZMA2");
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  uint64_t uncompressed = GetLE32(data) % MaxOutput;
  data += 4;
  size -= 4;
  if (size % 11 == 4) return SolidCase(data, size, uncompressed);
  bool shortReads = size % 3 == 0 && size > 0;
  bool endsEarly = size % 5 == 1;
  bool encrypted = size % 7 == 2;
  Bytes archive(data, data + size);
  if (encrypted) {
    static bool crcTable = (BuildCrcTable(), true);  // the keys need it before the first member
    (void)crcTable;
    InitKeys("fuzz", 4);
    EncryptBuffer(archive.data(), (uint32_t)size);
    InitKeys("fuzz", 4);
  }
  if (!endsEarly) archive.insert(archive.end(), GuardBytes, 0xA5);
  Host.ReadLimit = shortReads ? 1u + data[size - 1] : 0u;
  const int64_t declared = endsEarly ? (int64_t)size + 100 : (int64_t)size;
  uint32_t crc = HostLzmaDecode(archive.data(), archive.size(), declared, uncompressed, encrypted);
  DecodeResult result = Host.Result;
  size_t used = (size_t)(declared - CompressedLeft);
  Host.ReadLimit = 0;

  if (Host.InputPos > size) Fail("read past the member");
  if (result == DecodeResult::NoMemory) Fail("no memory for a small member");
  for (uint32_t piece : Host.Pieces)
    if (!piece || piece > LzmaPieceSize) Fail("a piece is empty or too large");
  if (Host.Output.size() > uncompressed) Fail("more output than the size");
  if ((uint32_t)crc32(0, Host.Output.data(), (uInt)Host.Output.size()) != crc) Fail("CRC differs from the output");
  if (result == DecodeResult::ArchiveEnded && !endsEarly) Fail("archive ended with the member still inside it");

  Bytes reference;
  lzma_ret ret;
  size_t referenceUsed;
  if (!LiblzmaDecode(Bytes(data, data + size), uncompressed, reference, &ret, &referenceUsed)) return 0;
  if (reference != Host.Output) Fail("output differs from liblzma's");
  if ((ret == LZMA_STREAM_END) != (result == DecodeResult::Done)) Fail("liblzma and LzmaDecode disagree on the end");
  if (result == DecodeResult::Done && used != referenceUsed) Fail("input used differs from liblzma's");
  // A damaged stream stops at the same byte too, but for faults noticed at
  // another point of the same step: a header this side refuses (liblzma is not
  // asked), a range coder whose first byte is not 0 (read whole here, refused
  // at that byte there), a symbol past the size (decoded whole here, refused
  // at its first bit there).
  if (ret == LZMA_DATA_ERROR && referenceUsed > 9 && Host.Output.size() < uncompressed && used != referenceUsed)
    Fail("a damaged stream stops elsewhere than liblzma's");
  return 0;
}
