// test_support.h -- helpers of the core's host tests: sample data, zlib reference coding, a bit writer, zip members.
#ifndef SFXKIT_TESTS_HOST_TEST_SUPPORT_H
#define SFXKIT_TESTS_HOST_TEST_SUPPORT_H
#include <stdint.h>

#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

enum class DataKind { Text, Binary, Random, Repetitive };
const char *DataKindName(DataKind kind);
// Deterministic sample data of the given kind and length.
Bytes SampleData(DataKind kind, size_t length, uint32_t seed = 1);

// A raw deflate stream made by zlib with these parameters; a flush other than
// Z_NO_FLUSH (0) is made once all the data is in, before the stream is finished.
Bytes ZlibDeflate(const Bytes &data, int level, int strategy = 0, int memLevel = 8, int flush = 0);
// zlib's raw inflate of stream: true when the stream ended with a last block.
// *message, when given, receives zlib's reason for rejecting it (null if none).
bool ZlibInflate(const Bytes &stream, Bytes &output, const char **message = nullptr);
uint32_t ZlibCrc(const Bytes &data);

// Writes a deflate stream bit by bit: header fields LSB first, Huffman codes MSB first.
class BitWriter {
 public:
  void Bits(uint32_t value, unsigned count);
  void Code(uint32_t code, unsigned length);  // a Huffman code, first bit = its top bit
  void AlignToByte();
  void Byte(uint8_t value) { Bits(value, 8); }
  Bytes Finish();  // pads the last byte with zeros
  void Header(bool last, unsigned type);  // a block's BFINAL and BTYPE
  // A whole stored block: header, LEN and its complement, the bytes.
  void Stored(bool last, const Bytes &bytes);
  // Fixed-code symbols (RFC 1951, 3.2.6).
  void FixedLiteral(unsigned symbol);
  void FixedDistance(unsigned code) { Code(code, 5); }

 private:
  Bytes out_;
  uint64_t acc_ = 0;
  unsigned count_ = 0;
};

// Canonical codes for a set of lengths (RFC 1951, 3.2.2); 0 for unused values.
std::vector<uint32_t> CanonicalCodes(const std::vector<unsigned> &lengths);

// Writes a dynamic block header for these literal/length and distance lengths, with a
// code-length code of 16 four-bit codes (symbols 0..15, no repeat codes), and
// returns the canonical codes of both sets.
void WriteDynamicHeader(BitWriter &w, bool last, const std::vector<unsigned> &literalLengths,
                        const std::vector<unsigned> &distanceLengths, std::vector<uint32_t> &literalCodes,
                        std::vector<uint32_t> &distanceCodes);

// One member of a zip file, read through the central directory.
struct ZipMember {
  std::string Name;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint16_t DosTime = 0;
  uint32_t Crc = 0;
  uint32_t UncompressedSize = 0;
  Bytes Data;  // the member's data as stored: encryption header included
};
std::vector<ZipMember> ReadZip(const std::string &path);

// A fresh temporary directory, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string &name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};
Bytes ReadFile(const std::string &path);
void WriteFile(const std::string &path, const Bytes &data);
// Runs a shell command; true on exit code 0.
bool RunShell(const std::string &command);
#endif
