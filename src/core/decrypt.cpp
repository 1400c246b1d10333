// decrypt.cpp -- a member's protection: the traditional scheme or AES, chosen
// per member, behind one set of routines for the stub and sfxmake alike.
#include "decrypt.h"

#include "crypt.h"

bool EntryAes = false;
AesStream MemberAes = {};

void SelectProtection(const MemberInfo &member) {
  EntryAes = member.Aes.Version != 0;
  EntryEncrypted = EntryAes || (Field16(member, EntryFlags) & FlagEncrypted) != 0;
}

uint32_t ProtectionHeaderSize(const MemberInfo &member) {
  if (member.Aes.Version) return AesSaltSize(member.Aes.Strength) + AesVerifierSize;
  return Field16(member, EntryFlags) & FlagEncrypted ? (uint32_t)CryptHeaderSize : 0;
}

uint32_t ProtectionOverhead(const MemberInfo &member) {
  return ProtectionHeaderSize(member) + (member.Aes.Version ? (uint32_t)AesCodeSize : 0u);
}

PasswordCheck CheckMemberPassword(const MemberInfo &member, uint8_t *header, const char *password, uint32_t length) {
  if (member.Aes.Version) {
    AesOpening opened = OpenAesStream(&MemberAes, member.Aes.Strength, header + MaxProtectionHeader, password, length);
    return opened == AesOpening::Opened ? PasswordCheck::Accepted
           : opened == AesOpening::Refused ? PasswordCheck::Refused
                                           : PasswordCheck::NoCipher;
  }
  uint8_t *buffer = header + MaxProtectionHeader - CryptHeaderSize;
  return CheckPassword(buffer, CryptHeaderSize, Field16(member, EntryFlags), Field32(member, EntryCrc32),
                       Field16(member, EntryDosTime), password, length)
             ? PasswordCheck::Accepted
             : PasswordCheck::Refused;
}

void DecryptData(uint8_t *data, uint32_t size) {
  if (!EntryEncrypted) return;
  if (EntryAes) DecryptAes(&MemberAes, data, size);
  else DecryptBuffer(data, size);
}

// Reads up to `size` bytes across short reads; fewer only where the archive ends.
static uint32_t ReadUpTo(uint8_t *to, uint32_t size) {
  uint32_t got = 0, step = 1;
  while (got < size && step) got += step = ReadArchive(to + got, size - got);
  return got;
}

// A decoder may stop before the member's last byte (a deflate stream that ends
// early): the code covers every byte, so the rest is read for it, not decoded.
DataVerdict JudgeMemberData(const MemberInfo &member) {
  bool crcMatches = Field32(member, EntryCrc32) == ~EntryCrc;
  if (!EntryAes) return crcMatches ? DataVerdict::Sound : DataVerdict::CrcMismatch;
  uint8_t rest[256], code[AesCodeSize], stored[AesCodeSize];
  while (CompressedLeft > 0) {
    uint32_t n = CompressedLeft < (int64_t)sizeof rest ? (uint32_t)CompressedLeft : (uint32_t)sizeof rest;
    if (ReadUpTo(rest, n) < n) break;
    UpdateAesMac(&MemberAes.Handles, rest, n);
    CompressedLeft -= n;
  }
  FinishAes(&MemberAes, code);
  bool codeMatches = CompressedLeft <= 0 && ReadUpTo(stored, AesCodeSize) == AesCodeSize;
  for (uint32_t i = 0; i < AesCodeSize; i++) codeMatches = codeMatches && code[i] == stored[i];
  if (!codeMatches) return DataVerdict::CodeMismatch;
  return member.Aes.Version == 1 && !crcMatches ? DataVerdict::CrcMismatch : DataVerdict::Sound;
}
