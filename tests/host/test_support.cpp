// test_support.cpp -- sample data, zlib reference coding, the bit writer and the zip member reader of the host tests.
#include "test_support.h"

#include <stdlib.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "sfxcore.h"

const char *DataKindName(DataKind kind) {
  switch (kind) {
    case DataKind::Text: return "text";
    case DataKind::Binary: return "binary";
    case DataKind::Random: return "random";
    case DataKind::Repetitive: return "repetitive";
  }
  return "?";
}

Bytes SampleData(DataKind kind, size_t length, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(length);
  static const char *words[] = {"the ", "window ", "of ", "deflate ", "reaches ", "back ", "32768 ", "bytes, ",
                                "and ", "a ", "code ", "length ", "table\n", "Huffman ", "literal ", "distance "};
  switch (kind) {
    case DataKind::Text:
      while (out.size() < length) {
        const char *word = words[rng() % 16];
        for (const char *c = word; *c && out.size() < length; c++) out.push_back((uint8_t)*c);
      }
      break;
    case DataKind::Binary:
      // Little-endian records with small counters and repeated opcodes, like an executable's tables.
      for (uint32_t i = 0; out.size() < length; i++) {
        uint8_t record[8] = {0x8B, (uint8_t)(0x40 + rng() % 8), (uint8_t)i, (uint8_t)(i >> 8), 0, 0,
                             (uint8_t)(rng() % 4 ? 0 : rng()), 0xC3};
        for (uint8_t b : record)
          if (out.size() < length) out.push_back(b);
      }
      break;
    case DataKind::Random:
      while (out.size() < length) out.push_back((uint8_t)rng());
      break;
    case DataKind::Repetitive:
      while (out.size() < length) out.push_back(out.size() % 1000 < 990 ? 'a' : (uint8_t)('b' + out.size() % 7));
      break;
  }
  return out;
}

Bytes ZlibDeflate(const Bytes &data, int level, int strategy, int memLevel, int flush) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy) != Z_OK) throw std::runtime_error("deflateInit2");
  Bytes out(deflateBound(&z, data.size()) + 64);
  z.next_in = const_cast<uint8_t *>(data.data());
  z.avail_in = (uInt)data.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  if (flush != Z_NO_FLUSH && deflate(&z, flush) != Z_OK) throw std::runtime_error("deflate flush");
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

bool ZlibInflate(const Bytes &stream, Bytes &output, const char **message) {
  z_stream z{};
  output.clear();
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<uint8_t *>(stream.data());
  z.avail_in = (uInt)stream.size();
  uint8_t chunk[32768];
  int ret;
  do {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    ret = inflate(&z, Z_NO_FLUSH);
    output.insert(output.end(), chunk, chunk + (sizeof chunk - z.avail_out));
  } while (ret == Z_OK && (z.avail_in > 0 || z.avail_out == 0));
  if (message) *message = ret == Z_DATA_ERROR ? z.msg : nullptr;
  inflateEnd(&z);
  return ret == Z_STREAM_END;
}

uint32_t ZlibCrc(const Bytes &data) { return (uint32_t)crc32(0, data.data(), (uInt)data.size()); }

void BitWriter::Bits(uint32_t value, unsigned count) {
  for (unsigned i = 0; i < count; i++) {
    acc_ |= (uint64_t)((value >> i) & 1) << count_;
    if (++count_ == 8) {
      out_.push_back((uint8_t)acc_);
      acc_ = 0;
      count_ = 0;
    }
  }
}

void BitWriter::Code(uint32_t code, unsigned length) {
  for (unsigned i = length; i-- > 0;) Bits((code >> i) & 1, 1);
}

void BitWriter::AlignToByte() {
  if (count_) Bits(0, 8 - count_);
}

Bytes BitWriter::Finish() {
  AlignToByte();
  return out_;
}

void BitWriter::Header(bool last, unsigned type) {
  Bits(last, 1);
  Bits(type, 2);
}

void BitWriter::Stored(bool last, const Bytes &bytes) {
  Header(last, 0);
  AlignToByte();
  Bits((uint32_t)bytes.size(), 16);
  Bits(~(uint32_t)bytes.size() & 0xFFFF, 16);
  for (uint8_t b : bytes) Byte(b);
}

void BitWriter::FixedLiteral(unsigned symbol) {
  if (symbol < 144) Code(0x30 + symbol, 8);
  else if (symbol < 256) Code(0x190 + symbol - 144, 9);
  else if (symbol < 280) Code(symbol - 256, 7);
  else Code(0xC0 + symbol - 280, 8);
}

std::vector<uint32_t> CanonicalCodes(const std::vector<unsigned> &lengths) {
  unsigned count[17] = {0}, next[17] = {0};
  for (unsigned l : lengths) count[l]++;
  count[0] = 0;
  uint32_t code = 0;
  for (int bits = 1; bits <= 16; bits++) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t v = 0; v < lengths.size(); v++)
    if (lengths[v]) codes[v] = next[lengths[v]]++;
  return codes;
}

void WriteDynamicHeader(BitWriter &w, bool last, const std::vector<unsigned> &literalLengths,
                        const std::vector<unsigned> &distanceLengths, std::vector<uint32_t> &literalCodes,
                        std::vector<uint32_t> &distanceCodes) {
  static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  w.Bits(last, 1);
  w.Bits(2, 2);
  w.Bits((uint32_t)literalLengths.size() - 257, 5);
  w.Bits((uint32_t)distanceLengths.size() - 1, 5);
  w.Bits(19 - 4, 4);
  for (uint8_t symbol : order) w.Bits(symbol < 16 ? 4 : 0, 3);
  for (unsigned l : literalLengths) w.Code(l, 4);  // symbols 0..15 all have 4-bit codes equal to themselves
  for (unsigned l : distanceLengths) w.Code(l, 4);
  literalCodes = CanonicalCodes(literalLengths);
  distanceCodes = CanonicalCodes(distanceLengths);
}

std::vector<ZipMember> ReadZip(const std::string &path) {
  Bytes zip = ReadFile(path);
  if (zip.size() < 22) throw std::runtime_error("too short for a zip: " + path);
  size_t end = zip.size() - 22;
  while (GetLE32(&zip[end]) != 0x06054b50) {
    if (end == 0) throw std::runtime_error("no end record in " + path);
    end--;
  }
  unsigned entries = GetLE16(&zip[end + 10]);
  size_t pos = GetLE32(&zip[end + 16]);
  std::vector<ZipMember> members;
  for (unsigned i = 0; i < entries; i++) {
    const uint8_t *c = &zip[pos];
    if (GetLE32(c) != 0x02014b50) throw std::runtime_error("bad central header");
    ZipMember m;
    m.Flags = GetLE16(c + 8);
    m.Method = GetLE16(c + 10);
    m.DosTime = GetLE16(c + 12);
    m.Crc = GetLE32(c + 16);
    uint32_t compressed = GetLE32(c + 20);
    m.UncompressedSize = GetLE32(c + 24);
    unsigned nameLength = GetLE16(c + 28), extraLength = GetLE16(c + 30), commentLength = GetLE16(c + 32);
    uint32_t local = GetLE32(c + 42);
    m.Name.assign((const char *)c + 46, nameLength);
    const uint8_t *l = &zip[local];
    size_t data = local + 30 + GetLE16(l + 26) + GetLE16(l + 28);
    m.Data.assign(zip.begin() + data, zip.begin() + data + compressed);
    members.push_back(m);
    pos += 46 + nameLength + extraLength + commentLength;
  }
  return members;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/sfxcore-test-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
  dir_ = pattern;
}

TempDir::~TempDir() { RunShell("rm -rf '" + dir_ + "'"); }

Bytes ReadFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot open " + path);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const Bytes &data) {
  std::ofstream f(path, std::ios::binary);
  if (!f.write((const char *)data.data(), (std::streamsize)data.size())) throw std::runtime_error("cannot create " + path);
}

bool RunShell(const std::string &command) { return system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0; }
