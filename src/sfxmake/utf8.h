// utf8.h -- UTF-8 as sfxmake reads and writes it, the way the stub's conversion
// takes it: shortest forms only, no surrogates, nothing past U+10FFFF.
#ifndef SFXKIT_SFXMAKE_UTF8_H
#define SFXKIT_SFXMAKE_UTF8_H

#include <cstdint>
#include <string>

// Decodes the character at s[*at] and moves *at behind it; false, *at left as
// it was, when the bytes there are no well-formed character.
bool NextCodePoint(const std::string &s, size_t *at, uint32_t *c);
bool IsUtf8(const std::string &s);
void AppendUtf8(std::string &out, uint32_t c);

#endif
