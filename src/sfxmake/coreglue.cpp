// coreglue.cpp -- sfxmake as the host of the project's core: ReadArchive over the
// file in memory, WriteOutput to the extracted file, one member decoded as the
// stub decodes it.
#include "coreglue.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "crc32.h"
#include "decode.h"
#include "decrypt.h"
#include "inflate.h"
#include "lzmadec.h"
#include "sfxcore.h"
#include "workers.h"
#include "zipformat.h"

namespace {

// Where ReadArchive reads and WriteOutput writes: each decoding thread its own.
struct HostState {
  const uint8_t *Next = nullptr;  // next unread byte of the file
  uint64_t Left = 0;              // bytes of the file behind Next
  std::FILE *Out = nullptr;       // output file, or null to only check
  const ZipMember *Decoded = nullptr;  // the member DecodeMember last began decoding
};
thread_local HostState Host;

// Decodes member `m` of `s` as DecodeMember says, the solid block aside.
MemberResult DecodeData(ByteView file, const ZipDirectory &dir, const ZipMember &m,
                        const std::vector<std::string> &passwords, std::FILE *out) {
  SetArchiveCursor(file, MemberDataOffset(file, dir, m));
  Host.Out = out;
  CompressedLeft = m.CompressedSize;
  SelectProtection(m);
  if (EntryEncrypted) {
    if (passwords.empty()) return MemberResult::NeedsPassword;
    uint8_t header[2 * MaxProtectionHeader];
    uint32_t size = ProtectionHeaderSize(m);
    if (ReadArchive(header + MaxProtectionHeader, size) != size) return MemberResult::ArchiveEnded;
    PasswordCheck check = PasswordCheck::Refused;
    for (size_t i = 0; i < passwords.size() && check == PasswordCheck::Refused; ++i)
      check = CheckMemberPassword(m, header, passwords[i].data(), (uint32_t)passwords[i].size());
    if (check == PasswordCheck::NoCipher) return MemberResult::UnknownMethod;
    if (check == PasswordCheck::Refused) return MemberResult::WrongPassword;
    CompressedLeft -= ProtectionOverhead(m);
  }
  EntryCrc = 0xFFFFFFFFu;
  DecodeResult r = DecodeMemberData(DataMethod(m), m.UncompressedSize);
  if (r == DecodeResult::NoMemory) return MemberResult::NoMemory;
  if (r == DecodeResult::OutputRefused) return MemberResult::WriteFailed;
  if (r == DecodeResult::ArchiveEnded) return MemberResult::ArchiveEnded;
  if (r == DecodeResult::TooLong) return MemberResult::SizeMismatch;
  switch (JudgeMemberData(m)) {
    case DataVerdict::CodeMismatch: return MemberResult::CodeMismatch;
    case DataVerdict::CrcMismatch: return MemberResult::CrcMismatch;
    case DataVerdict::SizeMismatch: return MemberResult::SizeMismatch;
    case DataVerdict::Sound: break;
  }
  return MemberResult::Ok;
}

}  // namespace

void PrepareCore() {
  static bool built = false;
  if (!built) {
    BuildCrcTable();
    BuildFixedTables();
    CompleteSignatures();
    built = true;
  }
}

void SetArchiveCursor(ByteView file, uint64_t at) {
  at = std::min<uint64_t>(at, file.size());
  Host.Next = file.data() + at;
  Host.Left = file.size() - at;
}

uint32_t ReadArchive(void *buffer, uint32_t count) {
  uint32_t n = (uint32_t)std::min<uint64_t>(count, Host.Left);
  if (n) std::memcpy(buffer, Host.Next, n);
  Host.Next += n;
  Host.Left -= n;
  return n;
}

// Output never passes the member's recorded size: the core stops it there (EmitOutput).
bool WriteOutput(const uint8_t *data, uint32_t count) {
  return !Host.Out || std::fwrite(data, 1, count, Host.Out) == count;
}

[[noreturn]] void OutOfMemory() {
  std::fputs("sfxmake: out of memory\n", stderr);
  std::exit(2);
}

MemberResult DecodeMember(const SfxFile &s, const ZipMember &m, const std::vector<std::string> &passwords,
                          std::FILE *out) {
  return DecodeMember(s.Data, s.Directory, m, passwords, out);
}

MemberResult DecodeMember(ByteView file, const ZipDirectory &dir, const ZipMember &m,
                          const std::vector<std::string> &passwords,
                          std::FILE *out) {
  PrepareCore();
  Host.Decoded = &m;
  if (!MethodDecodable(DataMethod(m))) return MemberResult::UnknownMethod;
  MemberResult r = DecodeData(file, dir, m, passwords, out);
  if (r != MemberResult::Ok && DataMethod(m) == MethodSolid) SolidMemberFailed();
  return r;
}

void PassMember(const SfxFile &s, const ZipMember &m, const std::vector<std::string> &passwords) {
  if (Host.Decoded != &m && DataMethod(m) == MethodSolid) DecodeMember(s, m, passwords, nullptr);
}

void EndDecoding() { SolidRelease(); }

void DecodeSideBySide(const std::vector<const ZipMember *> &list, bool oneWorker,
                      const std::function<void(size_t)> &check, const std::function<void(size_t)> &take) {
  auto solid = [&](size_t i) { return DataMethod(*list[i]) == MethodSolid; };
  size_t firstSolid = 0;
  while (firstSolid < list.size() && !solid(firstSolid)) ++firstSolid;
  auto work = [&](size_t i) {
    if (!solid(i)) return check(i);
    if (i != firstSolid) return;
    for (size_t j = i; j < list.size(); ++j)
      if (solid(j)) check(j);
    EndDecoding();
  };
  // A decoder holds at most a member's size (an LZMA dictionary, 1 GiB at most
  // as other writers declare them).
  uint64_t largest = 0;
  for (const ZipMember *m : list) largest = std::max(largest, m->UncompressedSize);
  unsigned workers = WorkerCount(0, list.size(), std::min<uint64_t>(largest, 1ull << 30) + (1 << 20));
#ifdef _WIN32
  oneWorker = true;
#endif
  if (oneWorker) workers = 1;
  RunInOrder(list.size(), workers, 64 * (size_t)workers, work, take);
}

const char *DescribeResult(MemberResult r) {
  static const char *const texts[] = {"OK", "CRC-32 mismatch", "size differs from the directory",
                                      "the archive ends inside the member", "encrypted, give --password",
                                      "wrong password", "unknown compression method", "cannot write the output",
                                      "its LZMA dictionary needs more memory than the system gives",
                                      "authentication code mismatch"};
  return texts[(int)r];
}
