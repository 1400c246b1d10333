// publisher.cpp -- what a publisher puts into a stub's resources so that the program
// looks like their product: the icon from a .ico file, a version resource with the
// product's texts and numbers, the manifest's execution level; and the same read
// back from a finished program for `sfxmake info`.
#include "publisher.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "errors.h"
#include "resources.h"
#include "sfxcore.h"
#include "utf8.h"

namespace {

// The stub's icon group: the dialogs and the window show it, Explorer shows the
// group with the lowest name, which is this one, the stub's only group.
const std::u16string IconGroupName = u"UNZIP";

// ---- .ico files and icon groups --------------------------------------------------

enum : uint32_t {
  IcoHeaderSize = 6,       // reserved 0, type 1, count
  IcoEntrySize = 16,       // width, height, colours, reserved, planes, bits, size (4), offset (4)
  IcoEntryBytes = 8,
  IcoEntryOffset = 12,
  GroupEntrySize = 14,     // as the .ico entry, with a 16-bit resource id instead of the offset
  GroupEntryBits = 6,
  GroupEntryBytes = 8,
  GroupEntryId = 12,
  BmpHeaderMin = 40,       // BITMAPINFOHEADER; later versions only add fields
  BmpWidth = 4, BmpHeight = 8, BmpPlanes = 12, BmpBits = 14, BmpCompression = 16, BmpColorsUsed = 32,
  PngSignatureSize = 8,
  PngIhdrEnd = 33,         // signature, chunk length and type, 13 bytes of IHDR, CRC
  MaxIconSide = 256,
  MaxIconImages = 256,     // images of one icon: what build writes and info reads
};
static_assert(IcoEntryOffset + 4 == IcoEntrySize && GroupEntryId + 2 == GroupEntrySize, "icon entries");
const uint8_t PngSignature[PngSignatureSize] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t GetBE32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

bool IsPng(const Bytes &d) { return d.size() >= PngSignatureSize && std::memcmp(d.data(), PngSignature, PngSignatureSize) == 0; }

// Whether the PNG's chunks (length, type, data, CRC) follow each other within its
// bytes from the header on, image data among them, up to the end chunk.
bool PngIsWhole(const Bytes &d) {
  enum : uint32_t { ChunkFrame = 12 };  // length, type, CRC
  bool imageData = false;
  for (uint64_t at = PngSignatureSize; at + ChunkFrame <= d.size();) {
    uint64_t next = at + ChunkFrame + GetBE32(&d[at]);
    if (next > d.size()) return false;
    if (std::memcmp(&d[at + 4], "IDAT", 4) == 0) imageData = true;
    if (std::memcmp(&d[at + 4], "IEND", 4) == 0) return imageData;
    at = next;
  }
  return false;
}

// An icon entry's width or height: 0 stands for 256.
uint32_t IconSide(uint8_t side) { return side ? side : (uint32_t)MaxIconSide; }

struct IcoImage {
  IconImage Shape;
  uint8_t Colors = 0;  // the entry's colour count, kept as the file has it
  Bytes Data;
};

// Checks one image of an .ico against its entry; returns its bit depth.
uint16_t CheckIcoImage(const Bytes &d, uint32_t width, uint32_t height, const std::string &where) {
  auto bad = [&](const std::string &why) -> uint16_t { throw InputError(where + ": " + why); };
  if (IsPng(d)) {
    if (d.size() < PngIhdrEnd || std::memcmp(&d[12], "IHDR", 4) != 0) return bad("a PNG image without its header");
    if (!PngIsWhole(d)) return bad("a PNG image cut short (its chunks do not reach an end chunk behind image data)");
    if (GetBE32(&d[16]) != width || GetBE32(&d[20]) != height) return bad("the PNG image's size differs from its entry");
    static const uint8_t channels[7] = {1, 0, 3, 1, 2, 0, 4};  // by PNG colour type
    uint8_t depth = d[24], type = d[25];
    if (type > 6 || !channels[type] || !depth || depth > 16) return bad("a PNG image of an unknown colour type");
    return (uint16_t)(depth * channels[type]);
  }
  if (d.size() < BmpHeaderMin || GetLE32(d.data()) < BmpHeaderMin || GetLE32(d.data()) > d.size())
    return bad("neither a PNG image nor a bitmap");
  int32_t w = (int32_t)GetLE32(&d[BmpWidth]), h = (int32_t)GetLE32(&d[BmpHeight]);
  uint16_t bits = GetLE16(&d[BmpBits]);
  uint32_t compression = GetLE32(&d[BmpCompression]), used = GetLE32(&d[BmpColorsUsed]);
  // An icon bitmap is twice as high as the icon: the colour rows, then the mask.
  if (w != (int32_t)width || h != 2 * (int32_t)height) return bad("the bitmap's size differs from its entry");
  if (GetLE16(&d[BmpPlanes]) != 1) return bad("a bitmap with more than one plane");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return bad("a bitmap of an unknown depth");
  if (compression != 0 && !(compression == 3 && bits >= 16)) return bad("a compressed bitmap");
  if (bits <= 8 && used > (1u << bits)) return bad("a palette larger than the depth allows");
  uint64_t palette = bits <= 8 ? 4ull * (used ? used : 1u << bits) : compression == 3 ? 12 : 0;
  uint64_t colorRows = (((uint64_t)width * bits + 31) / 32) * 4 * height;
  uint64_t maskRows = ((width + 31) / 32) * 4ull * height;
  uint64_t need = GetLE32(d.data()) + palette + colorRows + (bits == 32 ? 0 : maskRows);
  if (need > d.size()) return bad("the bitmap is shorter than its size needs");
  return bits;
}

// The images of the .ico file `ico`, read from `path`.
std::vector<IcoImage> ReadIco(const Bytes &ico, const std::string &path) {
  auto bad = [&](const std::string &why) { throw InputError(path + " is not a usable .ico file: " + why); };
  if (ico.size() < IcoHeaderSize || GetLE16(&ico[0]) != 0) bad("no icon header");
  if (GetLE16(&ico[2]) == 2) bad("it holds a cursor");
  if (GetLE16(&ico[2]) != 1) bad("no icon header");
  uint16_t count = GetLE16(&ico[4]);
  if (!count) bad("it holds no image");
  if (count > MaxIconImages)
    bad("it holds " + std::to_string(count) + " images, more than the " + std::to_string(MaxIconImages) +
        " a program's icon may have");
  if (IcoHeaderSize + (uint64_t)count * IcoEntrySize > ico.size()) bad("its directory is cut short");
  std::vector<IcoImage> images;
  for (uint16_t i = 0; i < count; i++) {
    const uint8_t *e = &ico[IcoHeaderSize + i * IcoEntrySize];
    uint64_t size = GetLE32(e + IcoEntryBytes), offset = GetLE32(e + IcoEntryOffset);
    std::string where = path + ": image " + std::to_string(i + 1);
    if (!size || offset < IcoHeaderSize + (uint64_t)count * IcoEntrySize || offset + size > ico.size())
      throw InputError(where + " lies outside the file");
    Bytes data(ico.begin() + offset, ico.begin() + offset + size);
    uint32_t width = IconSide(e[0]), height = IconSide(e[1]);
    IconImage shape{width, height, CheckIcoImage(data, width, height, where), IsPng(data), (uint32_t)size};
    for (const IcoImage &other : images)
      if (other.Shape.Width == width && other.Shape.Height == height && other.Shape.BitCount == shape.BitCount)
        throw InputError(where + " repeats the size and depth of another image");
    images.push_back({shape, e[2], std::move(data)});
  }
  return images;
}

bool IsIconGroup(const Resource &r) { return r.Type == ResourceKey::Number(ResTypeGroupIcon) && r.Name == ResourceKey::Named(IconGroupName); }

// The resource ids of the icons a group lists.
std::set<uint16_t> GroupIds(const Bytes &group) {
  std::set<uint16_t> ids;
  uint16_t count = group.size() >= IcoHeaderSize ? GetLE16(&group[4]) : 0;
  for (uint16_t i = 0; i < count && IcoHeaderSize + (i + 1u) * GroupEntrySize <= group.size(); i++)
    ids.insert(GetLE16(&group[IcoHeaderSize + i * GroupEntrySize + GroupEntryId]));
  return ids;
}

// Replaces the stub's icon group, and the icons only it used, by the .ico's images.
void ReplaceIcon(Resources &res, const Bytes &ico, const std::string &path) {
  std::vector<IcoImage> images = ReadIco(ico, path);
  auto group = std::find_if(res.begin(), res.end(), IsIconGroup);
  if (group == res.end()) throw InputError("the stub has no icon group to replace");
  uint16_t language = group->Language;
  std::set<uint16_t> old = GroupIds(group->Data);
  res.erase(std::remove_if(res.begin(), res.end(), [&](const Resource &r) {
              return r.Type == ResourceKey::Number(ResTypeIcon) && r.Name.Text.empty() && old.count(r.Name.Id);
            }), res.end());
  std::set<uint16_t> used;
  for (const Resource &r : res)
    if (r.Type == ResourceKey::Number(ResTypeIcon) && r.Name.Text.empty()) used.insert(r.Name.Id);

  Bytes entries(IcoHeaderSize + images.size() * GroupEntrySize);
  PutLE16(&entries[2], 1);
  PutLE16(&entries[4], (uint16_t)images.size());
  uint16_t id = 1;
  for (size_t i = 0; i < images.size(); i++) {
    while (used.count(id)) id++;
    used.insert(id);
    const IcoImage &image = images[i];
    uint8_t *e = &entries[IcoHeaderSize + i * GroupEntrySize];
    e[0] = (uint8_t)image.Shape.Width;  // 256 is stored as 0
    e[1] = (uint8_t)image.Shape.Height;
    e[2] = image.Colors;
    PutLE16(e + 4, 1);
    PutLE16(e + GroupEntryBits, image.Shape.BitCount);
    PutLE32(e + GroupEntryBytes, image.Shape.Size);
    PutLE16(e + GroupEntryId, id);
    res.push_back(Resource{ResourceKey::Number(ResTypeIcon), ResourceKey::Number(id), language, 0, image.Data});
  }
  std::find_if(res.begin(), res.end(), IsIconGroup)->Data = entries;
}

// ---- UTF-16 ----------------------------------------------------------------------

std::u16string Utf8ToUtf16(const std::string &s, const std::string &option) {
  RequireUtf8(s, option);
  std::u16string out;
  uint32_t cp;
  for (size_t i = 0; i < s.size();) {
    NextCodePoint(s, &i, &cp);
    if (cp >= 0x10000) {
      out += (char16_t)(0xD800 + ((cp - 0x10000) >> 10));
      cp = 0xDC00 + ((cp - 0x10000) & 0x3FF);
    }
    out += (char16_t)cp;
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00);
    else if (cp >= 0xD800 && cp < 0xE000)
      cp = 0xFFFD;  // a lone surrogate
    AppendUtf8(out, cp);
  }
  return out;
}

// ---- The version resource ----------------------------------------------------------

// Every node: length, value length, type (1 text, 0 binary), key, padding to 4,
// value, padding to 4, children (each starting on a 4-byte boundary).
enum : uint32_t {
  NodeLength = 0, NodeValueLength = 2, NodeType = 4, NodeKey = 6,
  FixedSize = 52,             // VS_FIXEDFILEINFO
  FixedSignature = 0xFEEF04BD,
  FixedStructVersion = 0x00010000,
  FixedFileVersion = 8,       // MS, then LS
  FixedProductVersion = 16,
  FixedFlagsMask = 24,
  FixedOs = 32,
  FixedType = 36,
  OsWindowsNt = 0x00040004,   // VOS_NT_WINDOWS32
  TypeApplication = 1,        // VFT_APP
  MaxVersionText = 1024,      // characters; the node lengths are 16-bit
};
// The texts are given in US English, stored in UTF-16 (code page 1200).
const uint16_t VersionLanguage = 0x0409, VersionCodePage = 1200;
const char16_t StringTableKey[] = u"040904B0";

// Where part k (0 the highest) of the version at `at` in the fixed part lies: the
// version is two 32-bit numbers, each holding its higher part in its upper half.
uint32_t VersionPartAt(uint32_t at, uint32_t k) { return at + 2 * (k ^ 1); }

void Pad4(Bytes &b) { b.resize((b.size() + 3) & ~size_t(3)); }

// Text as the tree holds it: UTF-16 code units, little-endian, and a zero.
Bytes TextValue(const std::u16string &text) {
  Bytes b;
  for (char16_t ch : text + u'\0') b.push_back((uint8_t)ch), b.push_back((uint8_t)(ch >> 8));
  return b;
}

Bytes VersionNode(const std::u16string &key, const Bytes &value, uint16_t valueLength, bool text,
                  const std::vector<Bytes> &children) {
  Bytes n(NodeKey), keyBytes = TextValue(key);
  n.insert(n.end(), keyBytes.begin(), keyBytes.end());
  Pad4(n);
  n.insert(n.end(), value.begin(), value.end());
  for (const Bytes &child : children) {
    Pad4(n);
    n.insert(n.end(), child.begin(), child.end());
  }
  if (n.size() > 0xFFFF) throw InputError("the version texts are too long for a version resource");
  PutLE16(&n[NodeLength], (uint16_t)n.size());
  PutLE16(&n[NodeValueLength], valueLength);
  PutLE16(&n[NodeType], text ? 1 : 0);
  return n;
}

// "1", "1.2", "1.2.3" or "1.2.3.4", each part 0 to 65535, optionally followed by
// a suffix that does not start with a digit or a dot ("2.0 beta", "1.4-rc1"):
// the four numbers, missing ones 0. InputError naming `option` otherwise.
VersionNumber ParseVersion(const std::string &text, const std::string &option) {
  VersionNumber v;
  size_t at = 0;
  int part = 0;
  auto bad = [&]() -> VersionNumber {
    throw InputError("--" + option + " takes a version like 1.2.3.4 (up to four numbers from 0 to 65535), not '" + text + "'");
  };
  for (;; part++) {
    if (part == 4 || at >= text.size() || text[at] < '0' || text[at] > '9') return bad();
    uint32_t n = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      n = n * 10 + (uint32_t)(text[at++] - '0');
      if (n > 0xFFFF) return bad();
    }
    v.Parts[part] = (uint16_t)n;
    if (at == text.size() || text[at] != '.') break;
    at++;
  }
  return v;
}

Bytes VersionResource(const PublisherOptions &o) {
  // One version given stands for both: a product's first file usually carries its version.
  std::string fileText = o.FileVersion.empty() ? o.ProductVersion : o.FileVersion;
  std::string productText = o.ProductVersion.empty() ? o.FileVersion : o.ProductVersion;
  VersionNumber file, product;
  if (!fileText.empty()) file = ParseVersion(fileText, o.FileVersion.empty() ? "product-version" : "file-version");
  if (!productText.empty()) product = ParseVersion(productText, o.ProductVersion.empty() ? "file-version" : "product-version");

  Bytes fixed(FixedSize);
  PutLE32(&fixed[0], FixedSignature);
  PutLE32(&fixed[4], FixedStructVersion);
  for (auto [at, v] : {std::pair{FixedFileVersion, &file}, {FixedProductVersion, &product}})
    for (uint32_t k = 0; k < 4; k++) PutLE16(&fixed[VersionPartAt(at, k)], v->Parts[k]);
  PutLE32(&fixed[FixedFlagsMask], 0x3F);
  PutLE32(&fixed[FixedOs], OsWindowsNt);
  PutLE32(&fixed[FixedType], TypeApplication);

  const struct { const char *Key, *Option; const std::string &Value; } texts[] = {
      {"CompanyName", "company", o.Company},          {"FileDescription", "description", o.Description},
      {"FileVersion", "file-version", fileText},      {"LegalCopyright", "copyright", o.Copyright},
      {"ProductName", "product-name", o.ProductName}, {"ProductVersion", "product-version", productText},
  };
  std::vector<Bytes> strings;
  for (const auto &t : texts) {
    if (t.Value.empty()) continue;
    std::u16string value = Utf8ToUtf16(t.Value, t.Option);
    if (value.size() > MaxVersionText) throw InputError(std::string("--") + t.Option + " is longer than 1024 characters");
    std::u16string key(t.Key, t.Key + std::strlen(t.Key));
    strings.push_back(VersionNode(key, TextValue(value), (uint16_t)(value.size() + 1), true, {}));
  }
  Bytes translation(4);
  PutLE16(&translation[0], VersionLanguage);
  PutLE16(&translation[2], VersionCodePage);
  Bytes table = VersionNode(StringTableKey, {}, 0, true, strings);
  Bytes stringInfo = VersionNode(u"StringFileInfo", {}, 0, true, {table});
  Bytes varInfo = VersionNode(u"VarFileInfo", {}, 0, true, {VersionNode(u"Translation", translation, 4, false, {})});
  return VersionNode(u"VS_VERSION_INFO", fixed, FixedSize, false, {stringInfo, varInfo});
}

// The UTF-16 text at b[at, end) up to its zero, or up to `end` when none comes.
std::u16string TextAt(const Bytes &b, size_t at, size_t end) {
  std::u16string s;
  for (; at + 2 <= end && GetLE16(&b[at]); at += 2) s += (char16_t)GetLE16(&b[at]);
  return s;
}

// A node read back: its key, value bytes and children.
struct ParsedNode {
  std::u16string Key;
  Bytes Value;
  bool Text = false;
  std::vector<ParsedNode> Children;
};

ParsedNode ParseNode(const Bytes &b, size_t at, size_t end, const std::string &what, int depth = 0) {
  auto bad = [&]() -> ParsedNode { throw InputError(what + ": damaged version resource"); };
  if (depth > 4 || at + NodeKey > end) return bad();
  size_t length = GetLE16(&b[at + NodeLength]), valueLength = GetLE16(&b[at + NodeValueLength]);
  if (length < NodeKey || at + length > end) return bad();
  end = at + length;
  ParsedNode n;
  n.Text = GetLE16(&b[at + NodeType]) == 1;
  n.Key = TextAt(b, at + NodeKey, end);
  size_t p = at + NodeKey + 2 * n.Key.size();
  if (p + 2 > end) return bad();  // no zero behind the key
  p = at + ((p + 2 - at + 3) & ~size_t(3));
  size_t valueBytes = n.Text ? valueLength * 2 : valueLength;
  if (p + valueBytes > end) valueBytes = p < end ? end - p : 0;  // some writers count bytes for texts
  n.Value.assign(b.begin() + std::min(p, end), b.begin() + std::min(p + valueBytes, end));
  p += valueBytes;
  for (;;) {
    p = at + ((p - at + 3) & ~size_t(3));
    if (p + NodeKey > end) break;
    n.Children.push_back(ParseNode(b, p, end, what, depth + 1));
    p += GetLE16(&b[p + NodeLength]);
  }
  return n;
}


void ReadVersion(const Bytes &data, const std::string &what, PublisherInfo &info) {
  ParsedNode root = ParseNode(data, 0, data.size(), what);
  if (root.Key != u"VS_VERSION_INFO" || root.Value.size() < FixedSize || GetLE32(root.Value.data()) != FixedSignature)
    throw InputError(what + ": damaged version resource");
  info.HasVersion = true;
  for (auto [at, v] : {std::pair{FixedFileVersion, &info.FileVersion}, {FixedProductVersion, &info.ProductVersion}})
    for (uint32_t k = 0; k < 4; k++) v->Parts[k] = GetLE16(&root.Value[VersionPartAt(at, k)]);
  for (const ParsedNode &child : root.Children) {
    if (child.Key != u"StringFileInfo" || child.Children.empty()) continue;
    for (const ParsedNode &s : child.Children[0].Children)
      info.Strings.push_back({Utf16ToUtf8(s.Key), Utf16ToUtf8(TextAt(s.Value, 0, s.Value.size()))});
  }
}

// ---- The manifest --------------------------------------------------------------------

const std::string LevelAttribute = "level=\"";

// The first manifest of the resources, or null.
const Resource *Manifest(const Resources &res) {
  auto manifest = std::find_if(res.begin(), res.end(), [](const Resource &r) { return r.Type == ResourceKey::Number(ResTypeManifest); });
  return manifest == res.end() ? nullptr : &*manifest;
}

void Elevate(Resources &res) {
  Resource *manifest = const_cast<Resource *>(Manifest(res));
  if (!manifest) throw InputError("the stub has no manifest to ask for administrator rights in");
  std::string text(manifest->Data.begin(), manifest->Data.end());
  const std::string from = LevelAttribute + "asInvoker\"", to = LevelAttribute + "requireAdministrator\"";
  size_t at = text.find(from);
  if (at == std::string::npos) throw InputError("the stub's manifest asks for no asInvoker level to raise");
  text.replace(at, from.size(), to);
  manifest->Data.assign(text.begin(), text.end());
}

std::string ExecutionLevel(const Resources &res) {
  const Resource *manifest = Manifest(res);
  std::string text = manifest ? std::string(manifest->Data.begin(), manifest->Data.end()) : "";
  size_t element = text.find("requestedExecutionLevel");
  size_t at = element == std::string::npos ? element : text.find(LevelAttribute, element);
  if (at == std::string::npos) return "";
  at += LevelAttribute.size();
  return text.substr(at, text.find('"', at) - at);
}

}  // namespace

bool PublisherOptions::HasVersionInfo() const {
  return !(ProductName + ProductVersion + FileVersion + Company + Description + Copyright).empty();
}

std::string VersionNumber::Text() const {
  return std::to_string(Parts[0]) + "." + std::to_string(Parts[1]) + "." + std::to_string(Parts[2]) + "." +
         std::to_string(Parts[3]);
}

Bytes ApplyPublisher(const Bytes &stub, const PublisherOptions &o) {
  return ApplyPublisher(stub, o, o.IconFile.empty() ? Bytes() : ReadWholeFile(o.IconFile));
}

Bytes ApplyPublisher(const Bytes &stub, const PublisherOptions &o, const Bytes &ico) {
  if (!o.Any()) return stub;
  Resources res = ReadResources(stub, "the stub");
  if (!o.IconFile.empty()) ReplaceIcon(res, ico, o.IconFile);
  if (o.HasVersionInfo()) {
    res.erase(std::remove_if(res.begin(), res.end(), [](const Resource &r) { return r.Type == ResourceKey::Number(ResTypeVersion); }),
              res.end());
    res.push_back(Resource{ResourceKey::Number(ResTypeVersion), ResourceKey::Number(1), VersionLanguage, 0, VersionResource(o)});
  }
  if (o.Elevate) Elevate(res);
  return ReplaceResources(stub, res);
}

PublisherInfo ReadPublisher(const Bytes &file, const std::string &what) {
  Resources res = ReadResources(file, what);
  PublisherInfo info;
  info.ExecutionLevel = ExecutionLevel(res);
  std::map<uint16_t, const Resource *> icons;  // by number (of several languages, the last)
  for (const Resource &r : res)
    if (r.Type == ResourceKey::Number(ResTypeIcon) && r.Name.Text.empty()) icons[r.Name.Id] = &r;
  for (const Resource &r : res) {
    if (r.Type == ResourceKey::Number(ResTypeVersion) && !info.HasVersion) ReadVersion(r.Data, what, info);
    if (!IsIconGroup(r) || !info.Icon.empty()) continue;
    uint16_t count = r.Data.size() >= IcoHeaderSize ? GetLE16(&r.Data[4]) : 0;
    if (IcoHeaderSize + (size_t)count * GroupEntrySize > r.Data.size() || count > MaxIconImages)
      throw InputError(what + ": damaged icon group");
    for (uint16_t i = 0; i < count; i++) {
      const uint8_t *e = &r.Data[IcoHeaderSize + i * GroupEntrySize];
      IconImage image{IconSide(e[0]), IconSide(e[1]), GetLE16(e + GroupEntryBits), false, GetLE32(e + GroupEntryBytes)};
      auto icon = icons.find(GetLE16(e + GroupEntryId));
      image.Png = icon != icons.end() && IsPng(icon->second->Data);
      info.Icon.push_back(image);
    }
  }
  return info;
}
