// utf8.cpp -- the one UTF-8 decoder and encoder of sfxmake, and how texts are
// escaped for its output.
#include "utf8.h"

#include <cstdio>

#include "errors.h"

bool NextCodePoint(const std::string &s, size_t *at, uint32_t *c) {
  size_t i = *at;
  uint8_t b = (uint8_t)s[i];
  size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 4;
  if (extra == 4 || s.size() - i <= extra) return false;
  uint32_t v = extra ? b & (0x3F >> extra) : b;
  for (size_t k = 1; k <= extra; ++k) {
    uint8_t t = (uint8_t)s[i + k];
    if ((t & 0xC0) != 0x80) return false;
    v = (v << 6) | (t & 0x3F);
  }
  static const uint32_t shortest[4] = {0, 0x80, 0x800, 0x10000};
  if (v < shortest[extra] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
  *at = i + extra + 1;
  *c = v;
  return true;
}

bool IsUtf8(const std::string &s) {
  uint32_t c;
  for (size_t i = 0; i < s.size();)
    if (!NextCodePoint(s, &i, &c)) return false;
  return true;
}

std::string Escape(const std::string &s, Escaping how) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    size_t start = i;
    uint32_t c;
    char hex[8];
    if (!NextCodePoint(s, &i, &c)) {
      std::snprintf(hex, sizeof hex, "\\x%02X", (uint8_t)s[i++]);
      out += how == Escaping::Json ? "\\ufffd" : hex;
    } else if (how != Escaping::Plain && (c == '"' || c == '\\')) {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      std::snprintf(hex, sizeof hex, how == Escaping::Json || c >= 0x80 ? "\\u%04x" : "\\x%02X", c);
      out += hex;
    } else {
      out.append(s, start, i - start);
    }
  }
  return out;
}

void RequireUtf8(const std::string &text, const std::string &option) {
  if (!IsUtf8(text)) throw InputError("--" + option + " is not valid UTF-8");
}

// The lead byte carries as many high ones as the sequence has bytes; each
// continuation byte six bits, the highest first.
void AppendUtf8(std::string &out, uint32_t c) {
  if (c < 0x80) {
    out += (char)c;
    return;
  }
  int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  out += (char)((uint8_t)(0xFF << (7 - extra)) | (c >> (6 * extra)));
  for (int k = extra - 1; k >= 0; --k) out += (char)(0x80 | ((c >> (6 * k)) & 0x3F));
}
