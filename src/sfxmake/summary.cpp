// summary.cpp -- what went into a program, counted from its directory.
#include "summary.h"

#include <cstdio>
#include <set>

#include "utf8.h"

const char *MemberMethod(const ZipMember &m) {
  if (m.IsFolder) return "folder";
  switch (DataMethod(m)) {
    case MethodStored: return "stored";
    case MethodDeflated: return "deflate";
    case MethodLzma: return "lzma";
    case MethodSolid: return "lzma2-solid";
  }
  return "other";
}

const char *MemberProtection(const ZipMember &m) {
  static const char *const aes[] = {"AES-128", "AES-192", "AES-256"};
  if (m.Aes.Version) return aes[m.Aes.Strength - 1];
  return m.Encrypted() ? "ZipCrypto" : "none";
}

TreeCounts CountTree(const ZipDirectory &dir) {
  TreeCounts c;
  std::set<std::string> folders;
  for (const ZipMember &m : dir.Members) {
    std::string path = m.TreePath();
    if (m.IsFolder) folders.insert(path);
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
      folders.insert(path.substr(0, slash));
    if (m.IsFolder) continue;
    c.Files++;
    c.Bytes += m.UncompressedSize;
    c.Methods[MemberMethod(m)]++;
    if (m.Encrypted()) c.Protection[MemberProtection(m)]++;
  }
  c.Folders = folders.size();
  return c;
}

namespace {

std::string Counted(uint64_t n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A size in the unit that keeps it short: bytes, then KiB, MiB, GiB.
std::string ReadableSize(uint64_t bytes) {
  static const char *const units[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double size = bytes / 1024.0;
  int unit = 0;
  for (; size >= 1024 && unit < 3; unit++) size /= 1024;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", size, units[unit]);
  return text;
}

// The method most files use; stored only when nothing else is used.
std::string MainMethod(const TreeCounts &c) {
  std::string main = "stored";
  for (const auto &[method, files] : c.Methods)
    if (method != "stored" && (main == "stored" || files > c.Methods.at(main))) main = method;
  return main;
}

// The schemes the encrypted files use, joined by '+'; *encrypted: how many files.
std::string Schemes(const TreeCounts &c, uint64_t *encrypted) {
  std::string text;
  *encrypted = 0;
  for (const auto &[scheme, files] : c.Protection) text += (text.empty() ? "" : "+") + scheme, *encrypted += files;
  return text;
}

// "AES-256", "AES-256 (3 of 4 files)", "not encrypted".
std::string ProtectionText(const TreeCounts &c) {
  uint64_t encrypted;
  std::string text = Schemes(c, &encrypted);
  if (!encrypted) return "not encrypted";
  return encrypted == c.Files ? text : text + " (" + std::to_string(encrypted) + " of " + Counted(c.Files, "file)", "files)");
}

double Ratio(const BuildSummary &s) { return s.Tree.Bytes ? (double)s.OutputBytes / (double)s.Tree.Bytes : 0; }

}  // namespace

std::string TreeText(const TreeCounts &c) {
  return Counted(c.Files, "file", "files") + ", " + Counted(c.Folders, "folder", "folders");
}

std::string SummaryLine(const BuildSummary &s) {
  std::string main = MainMethod(s.Tree), others;
  for (const auto &[method, files] : s.Tree.Methods)
    if (method != main) others += (others.empty() ? "" : ", ") + std::to_string(files) + " " + method;
  char tail[64];
  std::snprintf(tail, sizeof tail, " (%.0f%%); ", Ratio(s) * 100);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "; %.1f s", s.Seconds);
  return Escape(s.Output, Escaping::Plain) + ": " + TreeText(s.Tree) + "; " + ReadableSize(s.Tree.Bytes) + " into " +
         ReadableSize(s.OutputBytes) + tail + main + (others.empty() ? "" : " (" + others + ")") + "; " +
         ProtectionText(s.Tree) + seconds;
}

std::string SummaryJson(const BuildSummary &s) {
  auto quote = [](const std::string &text) { return "\"" + Escape(text, Escaping::Json) + "\""; };
  std::string methods;
  for (const auto &[method, files] : s.Tree.Methods)
    methods += (methods.empty() ? "" : ", ") + quote(method) + ": " + std::to_string(files);
  uint64_t encrypted;
  std::string protection = Schemes(s.Tree, &encrypted);
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, "\"ratio\": %.4f, \"seconds\": %.3f", Ratio(s), s.Seconds);
  return "{\"output\": " + quote(s.Output) + ", \"files\": " + std::to_string(s.Tree.Files) +
         ", \"folders\": " + std::to_string(s.Tree.Folders) + ", \"input_bytes\": " + std::to_string(s.Tree.Bytes) +
         ", \"output_bytes\": " + std::to_string(s.OutputBytes) + ", " + numbers + ", \"method\": " +
         quote(MainMethod(s.Tree)) + ", \"methods\": {" + methods + "}, \"encrypted\": " + (encrypted ? "true" : "false") +
         ", \"encryption\": " + quote(encrypted ? protection : "none") + ", \"encrypted_files\": " +
         std::to_string(encrypted) + "}";
}
