// coreglue.h -- sfxmake as the host of the project's core: the archive the core
// reads, the output it writes, and decoding one member as the stub would.
#ifndef SFXKIT_SFXMAKE_COREGLUE_H
#define SFXKIT_SFXMAKE_COREGLUE_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "files.h"
#include "sfxfile.h"

// In the order of DescribeResult's texts.
enum class MemberResult { Ok, CrcMismatch, SizeMismatch, ArchiveEnded, NeedsPassword, WrongPassword, UnknownMethod, WriteFailed,
                          NoMemory, CodeMismatch };

// Builds the core's tables (CRC-32, fixed Huffman) and completes the ZIP
// signatures; once, before any core routine.
void PrepareCore();

// Points the core's ReadArchive at `file` from offset `at` on; `file` must
// outlive the reads.
void SetArchiveCursor(ByteView file, uint64_t at);

// Decodes member `m` of `s` as the stub would (decrypting with the first of
// `passwords`, the forms of one password, that its header accepts), writing the
// output to `out` when it is not null. Checks the CRC-32 and the size;
// afterwards the core's EntryCrc holds the complement of the output's CRC-32.
// The members of a solid block must come in their order, each once: one that
// fails spoils those behind it in its block.
MemberResult DecodeMember(const SfxFile &s, const ZipMember &m, const std::vector<std::string> &passwords,
                          std::FILE *out);
// The same for a member of the archive `dir` read from `file`.
MemberResult DecodeMember(ByteView file, const ZipDirectory &dir, const ZipMember &m,
                          const std::vector<std::string> &passwords,
                          std::FILE *out);

// A member that failed before it could be decoded (its name refused, its
// place taken): one of a solid block is decoded all the same, written nowhere,
// so that the members behind it still decode. Nothing when DecodeMember has
// already decoded it, or for any other method.
void PassMember(const SfxFile &s, const ZipMember &m, const std::vector<std::string> &passwords);
// Releases what decoding kept between members (a solid block's dictionary).
void EndDecoding();

// Runs check(i) for every member of `list` side by side, as many at once as the
// machine affords decoders for, and take(i) in their order (RunInOrder, whose
// rules on exceptions hold). The members of solid blocks go through one thread
// in their order: their dictionary is that thread's, so the first of them takes
// them all. One worker when `oneWorker` is set, and always on Windows, whose
// build keeps the core's state in plain globals.
void DecodeSideBySide(const std::vector<const ZipMember *> &list, bool oneWorker,
                      const std::function<void(size_t)> &check, const std::function<void(size_t)> &take);

const char *DescribeResult(MemberResult result);

#endif
