// SFXString.cpp -- the counted string type; growth, search and slicing.
#include "SFXString.h"

#include <string.h>

#include "sfxcore.h"

SfxString::SfxString(const char *text) : SfxString() { Assign(text, text ? (uint32_t)strlen(text) : 0); }
SfxString::SfxString(const char *text, uint32_t length) : SfxString() { Assign(text, length); }
SfxString::SfxString(const SfxString &other) : SfxString() { Assign(other.data_, other.length_); }
SfxString::SfxString(SfxString &&other) : SfxString() { *this = (SfxString &&)other; }

SfxString &SfxString::operator=(const SfxString &other) {
  if (this != &other) Assign(other.data_, other.length_);
  return *this;
}

SfxString &SfxString::operator=(SfxString &&other) {
  if (this != &other) {
    Release();
    data_ = other.data_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.length_ = other.capacity_ = 0;
  }
  return *this;
}

void SfxString::Reserve(uint32_t capacity) {
  if (data_ && capacity <= capacity_) return;
  char *block = (char *)AllocateMemory((size_t)capacity + 1);
  if (length_) memcpy(block, data_, length_);
  block[length_] = 0;
  ReleaseMemory(data_);
  data_ = block;
  capacity_ = capacity;
}

void SfxString::Assign(const char *text, uint32_t length) {
  if (text && data_ && text >= data_ && text <= data_ + length_) {  // assigning a part of itself
    SfxString copy(text, length);
    *this = (SfxString &&)copy;
    return;
  }
  length_ = 0;
  Reserve(length);
  if (length) memcpy(data_, text, length);
  length_ = length;
  data_[length] = 0;
}

void SfxString::Append(const char *text, uint32_t length) {
  if (!length) return;
  if (data_ && text >= data_ && text <= data_ + length_) {
    SfxString copy(text, length);
    Append(copy.data_, copy.length_);
    return;
  }
  uint32_t needed = length_ + length;
  if (!data_ || needed > capacity_) Reserve(needed < 2 * capacity_ ? 2 * capacity_ : needed);
  memcpy(data_ + length_, text, length);
  length_ = needed;
  data_[length_] = 0;
}

char *SfxString::SetLength(uint32_t length) {
  Reserve(length);
  if (length > length_) memset(data_ + length_, 0, length - length_);
  length_ = length;
  data_[length] = 0;
  return data_;
}

void SfxString::CutAtNul() {
  if (data_) length_ = (uint32_t)strlen(data_);
}

void SfxString::Release() {
  ReleaseMemory(data_);
  data_ = nullptr;
  length_ = capacity_ = 0;
}

int SfxString::Find(const char *text, uint32_t from) const {
  uint32_t n = (uint32_t)strlen(text);
  if (!n) return from <= length_ ? (int)from : -1;
  for (uint32_t i = from; i + n <= length_; i++)
    if (memcmp(data_ + i, text, n) == 0) return (int)i;
  return -1;
}

int SfxString::FindChar(char c, uint32_t from) const {
  for (uint32_t i = from; i < length_; i++)
    if (data_[i] == c) return (int)i;
  return -1;
}

int SfxString::FindLastChar(char c) const {
  for (uint32_t i = length_; i > 0; i--)
    if (data_[i - 1] == c) return (int)(i - 1);
  return -1;
}

SfxString SfxString::Mid(uint32_t start, uint32_t count) const {
  if (start >= length_) return SfxString();
  if (count > length_ - start) count = length_ - start;
  return SfxString(data_ + start, count);
}

bool SfxString::Equals(const SfxString &other) const {
  return length_ == other.length_ && memcmp(Text(), other.Text(), length_) == 0;
}

SfxString operator+(const SfxString &a, const SfxString &b) {
  SfxString result(a);
  result.Append(b);
  return result;
}

// Long division by 10 in 16-bit steps: 32-bit operations only, so the 32-bit
// image needs no 64-bit division from the compiler's support library.
SfxString DecimalText(uint64_t value) {
  char digits[21];
  int i = 20;
  digits[i] = 0;
  do {
    uint32_t high = (uint32_t)(value >> 32), low = (uint32_t)value;
    uint32_t rest = high % 10, middle = (rest << 16) | (low >> 16);
    uint32_t bottom = ((middle % 10) << 16) | (low & 0xFFFF);
    value = ((uint64_t)(high / 10) << 32) | ((middle / 10) << 16) | (bottom / 10);
    digits[--i] = (char)('0' + bottom % 10);
  } while (value);
  return SfxString(digits + i);
}
