// utf8.h -- UTF-8 as sfxmake reads and writes it, the way the stub's conversion
// takes it: shortest forms only, no surrogates, nothing past U+10FFFF; and how
// texts are escaped for sfxmake's output.
#ifndef SFXKIT_SFXMAKE_UTF8_H
#define SFXKIT_SFXMAKE_UTF8_H

#include <cstdint>
#include <string>

// Decodes the character at s[*at] and moves *at behind it; false, *at left as
// it was, when the bytes there are no well-formed character.
bool NextCodePoint(const std::string &s, size_t *at, uint32_t *c);
bool IsUtf8(const std::string &s);
void AppendUtf8(std::string &out, uint32_t c);
// How a text read from a file goes into sfxmake's output: control characters
// (C0, DEL, C1) and bytes that are no UTF-8 never reach it as they are, so that
// no member name or text can start a line of its own or speak to the terminal.
enum class Escaping {
  Plain,   // those as \xNN (C1 as \u00NN), the rest as it is: names in lines and messages
  Quoted,  // as Plain, '"' and '\' escaped too: a text between double quotes
  Json,    // a JSON string's content: \u00NN, '"' and '\' escaped, U+FFFD for a byte that is no UTF-8
};
std::string Escape(const std::string &text, Escaping how);

// InputError, naming the command-line option, when `text` is not UTF-8.
void RequireUtf8(const std::string &text, const std::string &option);

#endif
