// decrypt.h -- a member's protection, whichever scheme it uses: the header in
// front of its data and the password checked against it, the decryption every
// decoder reads the data through, and the verdict on the data once decoded.
#ifndef SFXKIT_CORE_DECRYPT_H
#define SFXKIT_CORE_DECRYPT_H
#include "aes.h"
#include "zipformat.h"

extern MEMBER_STATE bool EntryAes;         // the member's data is AES-encrypted (MemberAes); otherwise, when
                              // EntryEncrypted, it uses the traditional scheme (CryptKeys)
extern MEMBER_STATE AesStream MemberAes;   // the AES stream of the member being read

// The longest header in front of a member's data: an AES-256 salt and the verifier.
enum : uint32_t { MaxProtectionHeader = AesMaxSaltSize + AesVerifierSize };
static_assert((uint32_t)MaxProtectionHeader >= (uint32_t)CryptHeaderSize, "the traditional header fits too");

// Sets EntryEncrypted and EntryAes for the member about to be read.
void SelectProtection(const MemberInfo &member);
// Bytes in front of the data that a password is checked against: 12 for the
// traditional scheme, the salt and verifier for AES, 0 for a plain member.
uint32_t ProtectionHeaderSize(const MemberInfo &member);
// Bytes of CompressedSize that are not compressed data: the header, and for
// AES the authentication code behind the data.
uint32_t ProtectionOverhead(const MemberInfo &member);

// header: 2 * MaxProtectionHeader bytes, the ProtectionHeaderSize bytes as read
// from MaxProtectionHeader on (never changed); the first half is room for the
// traditional check's decrypted copy.
PasswordCheck CheckMemberPassword(const MemberInfo &member, uint8_t *header, const char *password, uint32_t length);

// Decrypts member data in place as it is read (CopyStored, Inflate, the LZMA
// decoder): only when EntryEncrypted.
void DecryptData(uint8_t *data, uint32_t size);

enum class DataVerdict : uint8_t { Sound, CrcMismatch, CodeMismatch, SizeMismatch };
// The verdict on a member once decoded, EntryCrc complete: for AES the
// authentication code behind the data is read and compared first (the decoder
// must have read the data to its end), and an AE-2 member's CRC field, which
// holds 0, is not compared; then the CRC-32; then the size, which must be the
// declared one to the byte (OutputLeft 0).
DataVerdict JudgeMemberData(const MemberInfo &member);
#endif
