// SFXString.h -- the stub's string: a counted, heap-held 8-bit string in the ANSI code page.
//
// The stub carries no C++ runtime, so this small type stands in for std::string.
// It has a constant initialiser, so globals of this type need no start-up code;
// the stub starts without the C runtime's start-up, so destructors of globals
// never run: the module finalisation releases the global strings explicitly.
// Text() is always zero-terminated (an empty string gives ""). A failed
// allocation ends the process (OutOfMemory).
#ifndef SFXKIT_STUB_SFXSTRING_H
#define SFXKIT_STUB_SFXSTRING_H

#include <stdint.h>

class SfxString {
 public:
  constexpr SfxString() : data_(nullptr), length_(0), capacity_(0) {}
  SfxString(const char *text);                    // NOLINT: converting on purpose
  SfxString(const char *text, uint32_t length);   // length bytes, zero bytes included
  SfxString(const SfxString &other);
  SfxString(SfxString &&other);
  SfxString &operator=(const SfxString &other);
  SfxString &operator=(SfxString &&other);
  ~SfxString() { Release(); }

  const char *Text() const { return data_ ? data_ : ""; }
  uint32_t Length() const { return length_; }
  bool Empty() const { return length_ == 0; }
  char operator[](uint32_t index) const { return data_[index]; }   // 0-based, index < Length()
  char Last() const { return length_ ? data_[length_ - 1] : 0; }

  void Assign(const char *text, uint32_t length);
  void Append(const char *text, uint32_t length);
  void Append(const SfxString &other) { Append(other.data_, other.length_); }
  // Makes the string exactly length bytes long and returns its writable bytes
  // (length + 1 bytes, the last one zero). New bytes are zero.
  char *SetLength(uint32_t length);
  // Cuts the string at its first zero byte (after a platform call filled SetLength's buffer).
  void CutAtNul();
  void Truncate(uint32_t length) { if (length < length_) { length_ = length; data_[length] = 0; } }
  void Release();

  // 0-based positions; -1 when absent.
  int Find(const char *text, uint32_t from = 0) const;
  int FindChar(char c, uint32_t from = 0) const;
  int FindLastChar(char c) const;
  SfxString Mid(uint32_t start, uint32_t count = 0xFFFFFFFFu) const;
  bool Equals(const SfxString &other) const;

 private:
  void Reserve(uint32_t capacity);
  char *data_;         // heap block of capacity_ + 1 bytes, or null while nothing was stored
  uint32_t length_;    // bytes in use, excluding the terminating zero
  uint32_t capacity_;  // bytes available before a larger block is needed
};

SfxString operator+(const SfxString &a, const SfxString &b);

// The decimal form of an unsigned number, no separators.
SfxString DecimalText(uint64_t value);

#endif
