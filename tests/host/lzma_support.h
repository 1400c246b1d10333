// lzma_support.h -- what the LZMA encoder's tests and fuzzer share: our encoder
// over pieces, and the two decoders that must give the input back (liblzma's
// raw decoders, and the core's LzmaDecode for method-14 members).
#ifndef SFXKIT_TESTS_HOST_LZMA_SUPPORT_H
#define SFXKIT_TESTS_HOST_LZMA_SUPPORT_H
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "lzmaenc.h"

using Bytes = std::vector<uint8_t>;

// Our encoder's output for data handed over in pieces of `piece` bytes; for
// LZMA2 a member ends (FlushMember) after each offset in flushes (increasing),
// and flushedAt, when given, receives the output's length after each.
Bytes EncodeOwn(const Bytes &data, const LzmaEncoderSettings &settings, LzmaFormat format, size_t piece,
                const std::vector<size_t> &flushes = {}, std::vector<size_t> *flushedAt = nullptr);

// liblzma's raw decoder over stream (LZMA1 with an end marker, or LZMA2, with
// the settings' dictionary): true when the stream ended cleanly and used every
// byte; the output in out. With `whole` false the stream is a prefix, decoded as
// far as it goes (true when liblzma found nothing wrong in it).
bool DecodeLiblzma(const Bytes &stream, const LzmaEncoderSettings &settings, LzmaFormat format, Bytes &out,
                   bool whole = true);

// The core's LzmaDecode of a method-14 member of size bytes (header + LZMA1
// stream): true when it ended Done with the CRC-32 of data and used every byte.
bool DecodeCore(const Bytes &stream, const LzmaEncoderSettings &settings, const Bytes &data);
#endif
