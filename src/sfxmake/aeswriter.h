// aeswriter.h -- encrypts one member with AES as the archive is written: the
// salt and password verifier in front of its data, the keystream over each
// compressed piece in place, the authentication code behind.
#ifndef SFXKIT_SFXMAKE_AESWRITER_H
#define SFXKIT_SFXMAKE_AESWRITER_H

#include <cstdint>
#include <memory>
#include <string>

#include "aes.h"
#include "files.h"

class AesMemberWriter {
 public:
  // strength 1, 2 or 3: AES-128, -192, -256; the password in UTF-8.
  AesMemberWriter(uint8_t strength, const std::string &password);
  ~AesMemberWriter();
  // Bytes in front of the data and behind it.
  uint32_t HeaderSize() const { return AesSaltSize(Strength) + AesVerifierSize; }
  static constexpr uint32_t TrailerSize = AesCodeSize;
  // header: HeaderSize() bytes whose salt (the first AesSaltSize) the caller
  // filled, unpredictable; the verifier is written behind it. InputError when
  // the system's cipher fails.
  void Start(uint8_t *header);
  // Encrypts the next piece of the member's compressed data in place.
  void Update(uint8_t *piece, uint32_t size);
  // The authentication code over everything encrypted: TrailerSize bytes.
  void Finish(uint8_t *code);

 private:
  uint8_t Strength;
  std::string Password;
  std::unique_ptr<AesStream> Stream;  // a few kilobytes of keystream: not on the stack
};

// The AES field (0x9901) of a member written by AesMemberWriter: version 2
// (the CRC field holds 0), vendor "AE", the strength, the real method.
void AppendAesField(Bytes &extra, uint8_t strength, uint16_t method);

#endif
