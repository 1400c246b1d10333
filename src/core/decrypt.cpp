// decrypt.cpp -- a member's protection: the traditional scheme or AES, chosen
// per member, behind one set of routines for the stub and sfxmake alike.
#include "decrypt.h"

#include "crypt.h"

MEMBER_STATE bool EntryAes = false;
MEMBER_STATE AesStream MemberAes = {};

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
    return OpenAesStream(&MemberAes, member.Aes.Strength, header + MaxProtectionHeader, password, length, false);
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

// The code covers every byte of the data: a member whose decoder stopped
// before its last byte (a deflate stream that ends early) cannot be vouched for.
DataVerdict JudgeMemberData(const MemberInfo &member) {
  bool crcMatches = Field32(member, EntryCrc32) == ~EntryCrc;
  if (EntryAes) {
    uint8_t code[AesCodeSize], stored[AesCodeSize];
    FinishAes(&MemberAes, code);
    uint32_t got = 0, step = 1;
    while (got < AesCodeSize && step) got += step = ReadArchive(stored + got, AesCodeSize - got);
    bool codeMatches = CompressedLeft == 0 && got == AesCodeSize;
    for (uint32_t i = 0; i < AesCodeSize; i++) codeMatches = codeMatches && code[i] == stored[i];
    if (!codeMatches) return DataVerdict::CodeMismatch;
    crcMatches = crcMatches || member.Aes.Version != 1;
  }
  if (!crcMatches) return DataVerdict::CrcMismatch;
  return OutputLeft == 0 ? DataVerdict::Sound : DataVerdict::SizeMismatch;
}
