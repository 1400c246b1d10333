// SFXWide.cpp -- conversions between the stub's UTF-8 text, UTF-16 and the code pages.
#include "SFXWide.h"

#include "sfxcore.h"

// UTF-16 characters needed for UTF-8 text never exceed its byte count.
static WCHAR *Widen(const char *utf8, uint32_t length) {
  WCHAR *wide = (WCHAR *)AllocateMemory(((size_t)length + 1) * sizeof(WCHAR));
  int n = length ? MultiByteToWideChar(CP_UTF8, 0, utf8, (int)length, wide, (int)length) : 0;
  wide[n > 0 ? n : 0] = 0;
  return wide;
}

WideText::WideText(const SfxString &utf8) : data_(Widen(utf8.Text(), utf8.Length())) {}
WideText::WideText(const char *utf8) : data_(Widen(utf8, (uint32_t)lstrlenA(utf8))) {}
WideText::~WideText() { ReleaseMemory(data_); }

WideBuffer::WideBuffer(uint32_t chars) : data_((WCHAR *)AllocateMemory(((size_t)chars + 1) * sizeof(WCHAR))), chars_(chars) {
  ZeroMemory(data_, ((size_t)chars + 1) * sizeof(WCHAR));
}
WideBuffer::~WideBuffer() { ReleaseMemory(data_); }

SfxString WideBuffer::Text(uint32_t length) const {
  uint32_t n = 0;
  while (n < chars_ && n < length && data_[n]) n++;
  return FromWide(data_, (int)n);
}

SfxString FromWide(const WCHAR *text, int length) {
  if (length < 0) length = lstrlenW(text);
  SfxString utf8;
  if (length == 0) return utf8;
  // Three bytes at most for each UTF-16 unit (a surrogate pair takes four for two).
  int n = WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.SetLength(3 * (uint32_t)length), 3 * length, nullptr,
                              nullptr);
  utf8.Truncate(n > 0 ? (uint32_t)n : 0);
  return utf8;
}

SfxString FromCodePage(UINT codePage, const char *bytes, uint32_t length) {
  if (length == 0) return SfxString();
  WideBuffer wide(length);
  int n = MultiByteToWideChar(codePage, 0, bytes, (int)length, wide, (int)length);
  return wide.Text(n > 0 ? (uint32_t)n : 0);
}

SfxString ToCodePage(UINT codePage, const SfxString &utf8) {
  WideText wide(utf8);
  int chars = lstrlenW(wide);
  SfxString bytes;
  if (chars == 0) return bytes;
  int n = WideCharToMultiByte(codePage, 0, wide, chars, bytes.SetLength(2 * (uint32_t)chars), 2 * chars, nullptr,
                              nullptr);
  bytes.Truncate(n > 0 ? (uint32_t)n : 0);
  return bytes;
}

bool IsUtf8(const char *bytes, uint32_t length) {
  return length == 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, (int)length, nullptr, 0) > 0;
}
