// SFXWide.cpp -- conversions between the stub's UTF-8 text, UTF-16 and the code pages.
#include "SFXWide.h"

#include "sfxcore.h"

// UTF-16 characters needed for UTF-8 text never exceed its byte count.
WideText::WideText(const SfxString &utf8) : data_((WCHAR *)AllocateMemory(((size_t)utf8.Length() + 1) * sizeof(WCHAR))) {
  int length = (int)utf8.Length();
  int n = length ? MultiByteToWideChar(CP_UTF8, 0, utf8.Text(), length, data_, length) : 0;
  data_[n > 0 ? n : 0] = 0;
}
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

// UTF-16 text in a code page. Four bytes per UTF-16 unit is room for any code
// page, UTF-8 as the ANSI code page included.
static SfxString Narrow(UINT codePage, const WCHAR *text, int length) {
  SfxString bytes;
  if (length <= 0) return bytes;
  int n = WideCharToMultiByte(codePage, 0, text, length, bytes.SetLength(4 * (uint32_t)length), 4 * length, nullptr,
                              nullptr);
  bytes.Truncate(n > 0 ? (uint32_t)n : 0);
  return bytes;
}

SfxString FromWide(const WCHAR *text, int length) { return Narrow(CP_UTF8, text, length < 0 ? lstrlenW(text) : length); }

SfxString FromCodePage(UINT codePage, const char *bytes, uint32_t length) {
  if (length == 0) return SfxString();
  WideBuffer wide(length);
  int n = MultiByteToWideChar(codePage, 0, bytes, (int)length, wide, (int)length);
  return wide.Text(n > 0 ? (uint32_t)n : 0);
}

SfxString ToCodePage(UINT codePage, const SfxString &utf8) {
  WideText wide(utf8);
  return Narrow(codePage, wide, lstrlenW(wide));
}

bool IsUtf8(const char *bytes, uint32_t length) {
  return length == 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, (int)length, nullptr, 0) > 0;
}
