// coreglue.h -- decoding one member with the project's own decoding core.
#ifndef SFXKIT_SFXMAKE_COREGLUE_H
#define SFXKIT_SFXMAKE_COREGLUE_H

#include <cstdio>
#include <string>

#include "sfxfile.h"

enum class DecodeResult { Ok, CrcMismatch, SizeMismatch, NeedsPassword, WrongPassword, UnknownMethod, WriteFailed };

// Builds the core's tables (CRC-32, fixed Huffman); once, before any core routine.
void PrepareCore();

// Decodes member `m` of `s` as the stub would (decrypting with `password`),
// writing the output to `out` when it is not null. Checks the CRC-32 and the size.
DecodeResult DecodeMember(const SfxFile &s, const ZipMember &m, const std::string &password, std::FILE *out);

const char *DescribeResult(DecodeResult result);

#endif
