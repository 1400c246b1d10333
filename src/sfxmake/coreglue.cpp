// coreglue.cpp -- decoding one member with the project's own decoding core. Here
// sfxmake supplies what the core expects of its host: the member state, reads
// from the archive (the file in memory) and writes of the output.
#include "coreglue.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "crc32.h"
#include "crypt.h"
#include "inflate.h"
#include "sfxcore.h"

int64_t CompressedLeft;
uint32_t EntryCrc;
uint32_t CryptKeys[3];
bool EntryEncrypted;

namespace {

enum : uint32_t { EncryptionHeaderSize = 12 };

// Where ReadArchive reads and WriteOutput writes for the member being decoded.
struct DecodeState {
  const uint8_t *Next = nullptr;  // next unread byte of the file
  uint64_t Left = 0;              // bytes of the file behind Next
  std::FILE *Out = nullptr;       // output file, or null to only check
  uint64_t Written = 0;           // output bytes so far
  uint64_t Limit = 0;             // the member's recorded size: output beyond it is not written
  bool WriteFailed = false;       // a write failed; the core cannot be stopped, so it is noted
} Decode;

}  // namespace

void PrepareCore() {
  static bool built = false;
  if (!built) {
    BuildCrcTable();
    BuildFixedTables();
    built = true;
  }
}

uint32_t ReadArchive(void *buffer, uint32_t count) {
  uint32_t n = (uint32_t)std::min<uint64_t>(count, Decode.Left);
  std::memcpy(buffer, Decode.Next, n);
  Decode.Next += n;
  Decode.Left -= n;
  return n;
}

void WriteOutput(const uint8_t *data, uint32_t count) {
  uint64_t room = Decode.Written < Decode.Limit ? Decode.Limit - Decode.Written : 0;
  Decode.Written += count;
  if (Decode.Out && !Decode.WriteFailed && count &&
      std::fwrite(data, 1, (size_t)std::min<uint64_t>(count, room), Decode.Out) != std::min<uint64_t>(count, room))
    Decode.WriteFailed = true;
}

[[noreturn]] void OutOfMemory() {
  std::fputs("sfxmake: out of memory\n", stderr);
  std::exit(2);
}

DecodeResult DecodeMember(const SfxFile &s, const ZipMember &m, const std::string &password, std::FILE *out) {
  PrepareCore();
  if (m.Method != MethodStored && m.Method != MethodDeflated) return DecodeResult::UnknownMethod;
  uint64_t data = MemberDataOffset(s.Data, s.Directory, m);
  Decode = DecodeState{};
  Decode.Next = s.Data.data() + data;
  Decode.Left = s.Data.size() - data;
  Decode.Out = out;
  Decode.Limit = m.Uncompressed;
  CompressedLeft = m.Compressed;
  EntryEncrypted = m.Encrypted();
  if (EntryEncrypted) {
    if (password.empty()) return DecodeResult::NeedsPassword;
    uint8_t header[2 * EncryptionHeaderSize];
    if (ReadArchive(header + EncryptionHeaderSize, EncryptionHeaderSize) != EncryptionHeaderSize)
      return DecodeResult::CrcMismatch;
    if (!CheckPassword(header, EncryptionHeaderSize, m.Flags, m.Crc, m.DosTime, password.data(), (uint32_t)password.size()))
      return DecodeResult::WrongPassword;
    CompressedLeft -= EncryptionHeaderSize;
  }
  EntryCrc = 0xFFFFFFFFu;
  if (m.Method == MethodDeflated) {
    Inflate();
  } else {
    uint8_t block[BlockSize];
    while (CompressedLeft > 0) {
      uint32_t n = ReadArchive(block, (uint32_t)std::min<int64_t>(CompressedLeft, BlockSize));
      if (!n) break;
      CompressedLeft -= n;
      if (EntryEncrypted) DecryptBuffer(block, n);
      WriteOutput(block, n);
      UpdateCrcBuffer(block, (int32_t)n, EntryCrc);
    }
  }
  if (Decode.WriteFailed) return DecodeResult::WriteFailed;
  if (~EntryCrc != m.Crc) return DecodeResult::CrcMismatch;
  if (Decode.Written != m.Uncompressed) return DecodeResult::SizeMismatch;
  return DecodeResult::Ok;
}

const char *DescribeResult(DecodeResult r) {
  switch (r) {
    case DecodeResult::Ok: return "OK";
    case DecodeResult::CrcMismatch: return "CRC-32 mismatch";
    case DecodeResult::SizeMismatch: return "size differs from the directory";
    case DecodeResult::NeedsPassword: return "encrypted, give --password";
    case DecodeResult::WrongPassword: return "wrong password";
    case DecodeResult::UnknownMethod: return "unknown compression method";
    case DecodeResult::WriteFailed: return "cannot write the output";
  }
  return "failed";
}
