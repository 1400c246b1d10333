// codepages.h -- the two single-byte code pages sfxmake knows by itself, the
// same on every build machine: Windows-1252 (the ANSI code page of Western
// systems) and 437 (their OEM code page, the one of MS-DOS-era tools).
#ifndef SFXKIT_SFXMAKE_CODEPAGES_H
#define SFXKIT_SFXMAKE_CODEPAGES_H

#include <cstdint>
#include <string>

enum class CodePage { Windows1252, Dos437 };

// The character of byte b (0x80..0xFF) in the page; 0 where the page has none.
uint32_t UpperHalf(CodePage page, uint8_t b);
// UTF-8 text in the page's bytes. False when the text is no UTF-8 or a character
// has no place in the page ('_' stands there); *out is then unusable.
bool EncodeCodePage(const std::string &utf8, CodePage page, std::string *out);

#endif
