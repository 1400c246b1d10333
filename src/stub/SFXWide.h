// SFXWide.h -- text at the system's edge. The stub keeps its text in UTF-8
// (SfxString), where a path's separators are single bytes that no character of
// any language shares; the system is called with UTF-16, so that every name
// works whatever the ANSI code page.
#ifndef SFXKIT_STUB_SFXWIDE_H
#define SFXKIT_STUB_SFXWIDE_H

#include <windows.h>

#include "SFXString.h"

// A UTF-16 copy of UTF-8 text for the length of one call into the system.
class WideText {
 public:
  WideText(const SfxString &utf8);  // NOLINT: converting on purpose
  ~WideText();
  WideText(const WideText &) = delete;
  WideText &operator=(const WideText &) = delete;
  operator const WCHAR *() const { return data_; }  // NOLINT
  WCHAR *Data() { return data_; }

 private:
  WCHAR *data_;  // zero-terminated, heap-held
};

// A buffer of `chars` UTF-16 characters (and a terminating zero) for the system
// to fill, turned into UTF-8 text afterwards.
class WideBuffer {
 public:
  explicit WideBuffer(uint32_t chars);
  ~WideBuffer();
  WideBuffer(const WideBuffer &) = delete;
  WideBuffer &operator=(const WideBuffer &) = delete;
  operator WCHAR *() { return data_; }  // NOLINT
  // The text up to `length` characters or the first zero, whichever comes first.
  SfxString Text(uint32_t length = 0xFFFFFFFFu) const;
  // The text of a system call that returned `length`: empty when that is the
  // buffer's size or more, the size the call would have needed.
  SfxString Result(uint32_t length) const { return length < chars_ ? Text(length) : SfxString(); }

 private:
  WCHAR *data_;      // chars + 1 characters, zero-filled
  uint32_t chars_;
};

// UTF-16 text (up to `length` characters or its zero) as UTF-8.
SfxString FromWide(const WCHAR *text, int length = -1);
// Bytes in a code page (CP_ACP, CP_OEMCP, CP_UTF8) as UTF-8. Bytes that are not
// valid in the code page come out as the system's replacement characters.
SfxString FromCodePage(UINT codePage, const char *bytes, uint32_t length);
// UTF-8 text in a code page; characters it lacks become its default character.
SfxString ToCodePage(UINT codePage, const SfxString &utf8);
// Whether the bytes are well-formed UTF-8.
bool IsUtf8(const char *bytes, uint32_t length);

#endif
