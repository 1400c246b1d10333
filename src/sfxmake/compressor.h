// compressor.h -- the builder's member compressors, deflate (zlib) and LZMA
// (the core's encoder), fed a file in pieces and handing compressed pieces on as they fill,
// so that a member of any size costs the same memory.
#ifndef SFXKIT_SFXMAKE_COMPRESSOR_H
#define SFXKIT_SFXMAKE_COMPRESSOR_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Takes each compressed piece, in order; a piece is valid, and may be changed
// in place (encrypted), only during the call.
using PieceSink = std::function<void(uint8_t *data, size_t count)>;

class Compressor {
 public:
  virtual ~Compressor() = default;
  // Compresses the next `count` bytes of the member.
  virtual void Feed(const uint8_t *data, size_t count, const PieceSink &sink) = 0;
  // Ends the stream: whatever is still held goes to `sink`.
  virtual void Finish(const PieceSink &sink) = 0;
};

// The compressor of ZIP method `method` (MethodDeflated or MethodLzma) for a
// member of `size` bytes. Deflate is raw deflate at zlib's level 9. LZMA is the
// member's 9-byte header (LZMA version, properties size 5, the properties) and a
// raw LZMA stream ended by the end marker (flag FlagLzmaEndMarker), its
// dictionary no larger than the member (4 KiB at least), from the core's
// encoder at settings like liblzma's preset 9e (lzmaenc.h). InputError when
// the encoder cannot have its memory.
std::unique_ptr<Compressor> MakeCompressor(uint16_t method, uint64_t size);

// Whether LZMA members come from the core's encoder, whose members the builder
// decodes again before it finishes. Always on Windows; the Linux build, which
// links liblzma, takes liblzma's raw encoder at preset 9e instead when the
// environment has SFXMAKE_LZMA_ENCODER=liblzma (for comparisons).
bool OwnLzmaEncoder();

// The encoder of a solid block (MethodSolid): the members one after another as
// one LZMA2 stream, each ended by FlushMember so that its compressed data is
// the chunks that produce exactly its bytes. A member's data is the byte
// MemberHead() gives, then what Encode and FlushMember hand on for it.
// The core's encoder and liblzma's each implement it (OwnLzmaEncoder chooses).
class BlockEncoder {
 public:
  virtual ~BlockEncoder() = default;
  // Compresses the next `count` bytes of the current member.
  virtual void Encode(const uint8_t *data, size_t count, const PieceSink &sink) = 0;
  // Ends the current member: every chunk of its bytes goes to `sink`, the
  // last one complete; the dictionary and the coder go on with the next member.
  virtual void FlushMember(const PieceSink &sink) = 0;
  // Ends the block; it carries no end marker (the members' sizes end it).
  virtual void Finish() = 0;
  // The first byte of the next member's data: the block's LZMA2 dictionary
  // code, with SolidOpensBlock on the block's first member.
  uint8_t MemberHead();

 protected:
  virtual uint8_t DictionaryCode() const = 0;

 private:
  bool opened_ = false;  // the block's first member has been started
};

// The block's dictionary: its LZMA2 code, the smallest that holds `total`
// bytes (the block's input), 64 MiB at most.
uint8_t BlockDictionaryCode(uint64_t total);
// The LZMA2 dictionary size of a code (0..40).
uint64_t BlockDictionarySize(uint8_t code);

// The encoder of a solid block whose members hold `total` bytes in all;
// InputError when it cannot have its memory.
std::unique_ptr<BlockEncoder> MakeBlockEncoder(uint64_t total);
// What one encoder of `method` (MethodLzma, MethodDeflated, MethodSolid) for
// `size` bytes of input takes in memory, as its library states it.
uint64_t EncoderMemory(uint16_t method, uint64_t size);

// The method a --method value names (store, deflate, lzma); InputError for any
// other.
uint16_t ParseMethod(const std::string &name);

#endif
