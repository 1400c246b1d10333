// aeswriter.cpp -- one member's AES encryption as the archive is written, on
// the core's stream and the host's primitives (the stub's own reading path, run
// the other way).
#include "aeswriter.h"

#include "errors.h"
#include "zipformat.h"

AesMemberWriter::AesMemberWriter(uint8_t strength, const std::string &password)
    : Strength(strength), Password(password), Stream(new AesStream()) {}

AesMemberWriter::~AesMemberWriter() { CloseAesHandles(&Stream->Handles); }

void AesMemberWriter::Start(uint8_t *header) {
  if (OpenAesStream(Stream.get(), Strength, header, Password.data(), (uint32_t)Password.size(), true) !=
      PasswordCheck::Accepted)
    throw InputError("the system's AES failed; cannot encrypt");
}

void AesMemberWriter::Update(uint8_t *piece, uint32_t size) { EncryptAes(Stream.get(), piece, size); }

// A failed call of the system's cipher spoils the code to zeros (see aes.h's
// primitives): a member so written would be refused by every reader.
void AesMemberWriter::Finish(uint8_t *code) {
  FinishAes(Stream.get(), code);
  uint8_t any = 0;
  for (uint32_t i = 0; i < TrailerSize; i++) any |= code[i];
  if (!any) throw InputError("the system's AES failed; cannot encrypt");
}

void AppendAesField(Bytes &extra, uint8_t strength, uint16_t method) {
  uint8_t field[4 + AesFieldSize];
  PutLE16(field, AesFieldId);
  PutLE16(field + 2, AesFieldSize);
  PutLE16(field + 4, 2);
  field[6] = 'A';
  field[7] = 'E';
  field[8] = strength;
  PutLE16(field + 9, method);
  extra.insert(extra.end(), field, field + sizeof field);
}
