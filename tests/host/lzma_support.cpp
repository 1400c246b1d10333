// lzma_support.cpp -- our LZMA encoder over pieces and the reference decoders, for tests and the fuzzer.
#include "lzma_support.h"

#include <lzma.h>
#include <zlib.h>

#include "core_host.h"

namespace {
void Append(void *context, uint8_t *data, size_t count) {
  Bytes *out = (Bytes *)context;
  out->insert(out->end(), data, data + count);
}
}  // namespace

Bytes EncodeOwn(const Bytes &data, const LzmaEncoderSettings &settings, LzmaFormat format, size_t piece,
                const std::vector<size_t> &flushes, std::vector<size_t> *flushedAt) {
  Bytes out;
  LzmaEncoder *e = LzmaEncoderCreate(settings, format, Append, &out);
  if (!e) return out;
  size_t at = 0, next = 0;
  while (at < data.size() || next < flushes.size()) {
    size_t end = next < flushes.size() && flushes[next] < data.size() ? flushes[next] : data.size();
    while (at < end) {
      size_t n = end - at < piece ? end - at : piece;
      LzmaEncoderFeed(e, data.data() + at, n);
      at += n;
    }
    if (next < flushes.size()) {
      LzmaEncoderFlushMember(e);
      if (flushedAt) flushedAt->push_back(out.size());
      next++;
    }
  }
  LzmaEncoderFinish(e);
  LzmaEncoderFree(e);
  return out;
}

bool DecodeLiblzma(const Bytes &stream, const LzmaEncoderSettings &settings, LzmaFormat format, Bytes &out,
                   bool whole) {
  lzma_options_lzma o{};
  lzma_lzma_preset(&o, 0);
  o.dict_size = settings.DictSize;
  o.lc = settings.Lc;
  o.lp = settings.Lp;
  o.pb = settings.Pb;
  o.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  o.ext_size_low = o.ext_size_high = UINT32_MAX;  // the size is unknown: the end marker ends it
  lzma_filter filters[2] = {{format == LzmaFormat::Lzma1 ? LZMA_FILTER_LZMA1EXT : LZMA_FILTER_LZMA2, &o},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream z = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&z, filters) != LZMA_OK) return false;
  out.clear();
  uint8_t piece[1 << 16];
  z.next_in = stream.data();
  z.avail_in = stream.size();
  lzma_ret ret;
  do {
    z.next_out = piece;
    z.avail_out = sizeof piece;
    ret = lzma_code(&z, whole ? LZMA_FINISH : LZMA_RUN);
    out.insert(out.end(), piece, piece + (sizeof piece - z.avail_out));
  } while (ret == LZMA_OK && (z.avail_in || z.avail_out == 0));
  bool ended = ret == LZMA_STREAM_END && z.avail_in == 0;
  lzma_end(&z);
  return whole ? ended : ret == LZMA_OK || ret == LZMA_BUF_ERROR;
}

bool DecodeCore(const Bytes &stream, const LzmaEncoderSettings &settings, const Bytes &data) {
  Bytes member(LzmaHeaderSize);
  LzmaWriteHeader(settings, member.data());
  member.insert(member.end(), stream.begin(), stream.end());
  uint32_t crc = HostLzmaDecode(member.data(), member.size(), (int64_t)member.size(), data.size());
  return Host.Result == DecodeResult::Done && CompressedLeft == 0 &&
         crc == (uint32_t)crc32(0, data.data(), (uInt)data.size());
}
