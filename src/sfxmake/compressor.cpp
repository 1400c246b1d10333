// compressor.cpp -- the builder's member compressors, deflate (zlib) and LZMA
// (the core's encoder, or liblzma where the build has it), fed in pieces.
#include "compressor.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "errors.h"
#include "lzmaenc.h"
#include "zipformat.h"

#ifdef SFXMAKE_LZMA
#include <lzma.h>
#endif

namespace {

// Compressed bytes are handed on in pieces of this size (the last one shorter).
enum : size_t { PieceSize = 1 << 18 };

// Gathers a library's output into pieces of PieceSize bytes: the library
// writes into Free()/Room(), Filled() hands a full piece (or, at the end, what
// there is) to the sink.
class PieceBuffer {
 public:
  PieceBuffer() : out_(PieceSize) {}
  uint8_t *Free() { return out_.data() + used_; }
  size_t Room() const { return out_.size() - used_; }
  // `room` is what the library left free; `flush` hands on a partial piece too.
  void Filled(size_t room, const PieceSink &sink, bool flush) {
    used_ = out_.size() - room;
    if (used_ == out_.size() || (flush && used_)) {
      sink(out_.data(), used_);
      used_ = 0;
    }
  }

 private:
  std::vector<uint8_t> out_;  // the piece being filled
  size_t used_ = 0;           // bytes of out_ filled
};

class DeflateCompressor : public Compressor {
 public:
  DeflateCompressor() {
    if (deflateInit2(&z_, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw InputError("zlib: out of memory");
  }
  ~DeflateCompressor() override { deflateEnd(&z_); }
  void Feed(const uint8_t *data, size_t count, const PieceSink &sink) override { Run(data, count, Z_NO_FLUSH, sink); }
  void Finish(const PieceSink &sink) override { Run(nullptr, 0, Z_FINISH, sink); }

 private:
  void Run(const uint8_t *data, size_t count, int flush, const PieceSink &sink) {
    z_.next_in = const_cast<uint8_t *>(data);
    z_.avail_in = (uInt)count;  // pieces are far below 4 GiB
    for (;;) {
      z_.next_out = out_.Free();
      z_.avail_out = (uInt)out_.Room();
      int rc = deflate(&z_, flush);
      if (rc != Z_OK && rc != Z_BUF_ERROR && rc != Z_STREAM_END) throw InputError("zlib: deflate failed");
      out_.Filled(z_.avail_out, sink, rc == Z_STREAM_END);
      if (rc == Z_STREAM_END || (flush == Z_NO_FLUSH && z_.avail_in == 0 && z_.avail_out != 0)) return;
    }
  }
  z_stream z_{};     // zlib's state
  PieceBuffer out_;  // compressed bytes not yet handed on
};

// The LZMA dictionary for a member of `size` bytes: 64 MiB (the strongest
// preset's), cut down to the member, which saves a small member's reader memory
// and changes nothing else; 4 KiB at least.
uint32_t MemberDictionary(uint64_t size) {
  return (uint32_t)std::max<uint64_t>(LzmaMinDictionary, std::min<uint64_t>(64u << 20, size));
}

// The core encoder's output, gathered into pieces for the sink of the call in
// progress (the encoder hands its bytes on through Emit).
class OwnEncoderOutput {
 public:
  void Use(const PieceSink &sink) { sink_ = &sink; }
  void Take(const uint8_t *data, size_t count) {
    while (count) {
      size_t n = std::min(count, out_.Room());
      std::memcpy(out_.Free(), data, n);
      out_.Filled(out_.Room() - n, *sink_, false);
      data += n;
      count -= n;
    }
  }
  // Hands on the partial piece too.
  void Flush() { out_.Filled(out_.Room(), *sink_, true); }
  static void Emit(void *self, uint8_t *data, size_t count) { ((OwnEncoderOutput *)self)->Take(data, count); }

 private:
  const PieceSink *sink_ = nullptr;
  PieceBuffer out_;
};

// LZMA with the core's encoder at settings like liblzma's preset 9e: the same
// bytes from every build of sfxmake.
class OwnLzmaCompressor : public Compressor {
 public:
  explicit OwnLzmaCompressor(uint64_t size) {
    settings_.DictSize = MemberDictionary(size);
    encoder_ = LzmaEncoderCreate(settings_, LzmaFormat::Lzma1, OwnEncoderOutput::Emit, &output_);
    if (!encoder_) throw InputError("the LZMA encoder is out of memory");
  }
  ~OwnLzmaCompressor() override { LzmaEncoderFree(encoder_); }
  void Feed(const uint8_t *data, size_t count, const PieceSink &sink) override {
    Start(sink);
    LzmaEncoderFeed(encoder_, data, count);
  }
  void Finish(const PieceSink &sink) override {
    Start(sink);
    LzmaEncoderFinish(encoder_);
    output_.Flush();
  }

 private:
  // The member's header goes ahead of the first piece.
  void Start(const PieceSink &sink) {
    output_.Use(sink);
    if (started_) return;
    started_ = true;
    uint8_t header[LzmaHeaderSize];
    LzmaWriteHeader(settings_, header);
    output_.Take(header, sizeof header);
  }

  LzmaEncoderSettings settings_;
  LzmaEncoder *encoder_ = nullptr;
  bool started_ = false;
  OwnEncoderOutput output_;
};

// A solid block from the core's encoder: LZMA2 chunks, each member's last one
// ended by FlushMember; the block needs no end byte (the members' sizes end it).
class OwnBlockEncoder : public BlockEncoder {
 public:
  explicit OwnBlockEncoder(uint64_t total) : code_(BlockDictionaryCode(total)) {
    LzmaEncoderSettings settings;
    settings.DictSize = (uint32_t)BlockDictionarySize(code_);
    encoder_ = LzmaEncoderCreate(settings, LzmaFormat::Lzma2, OwnEncoderOutput::Emit, &output_);
    if (!encoder_) throw InputError("the LZMA encoder is out of memory");
  }
  ~OwnBlockEncoder() override { LzmaEncoderFree(encoder_); }
  void Encode(const uint8_t *data, size_t count, const PieceSink &sink) override {
    output_.Use(sink);
    LzmaEncoderFeed(encoder_, data, count);
  }
  void FlushMember(const PieceSink &sink) override {
    output_.Use(sink);
    LzmaEncoderFlushMember(encoder_);
    output_.Flush();
  }
  void Finish() override {
    LzmaEncoderFree(encoder_);
    encoder_ = nullptr;
  }

 protected:
  uint8_t DictionaryCode() const override { return code_; }

 private:
  uint8_t code_;
  LzmaEncoder *encoder_ = nullptr;
  OwnEncoderOutput output_;
};

#ifdef SFXMAKE_LZMA
// Extreme mode at level 9 packs programs and libraries smallest.
lzma_options_lzma StrongestPreset() {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME)) throw InputError("liblzma: no such preset");
  return options;
}

// Runs liblzma over `count` bytes until it has taken them all (LZMA_RUN) or,
// for any other action, until it says the action is complete.
void RunLzma(lzma_stream &stream, PieceBuffer &out, const uint8_t *data, size_t count, lzma_action action,
             const PieceSink &sink) {
  stream.next_in = data;
  stream.avail_in = count;
  for (;;) {
    stream.next_out = out.Free();
    stream.avail_out = out.Room();
    lzma_ret rc = lzma_code(&stream, action);
    if (rc != LZMA_OK && rc != LZMA_STREAM_END)
      throw InputError(rc == LZMA_MEM_ERROR ? "liblzma: out of memory" : "liblzma: the LZMA encoder failed");
    out.Filled(stream.avail_out, sink, rc == LZMA_STREAM_END);
    if (rc == LZMA_STREAM_END || (action == LZMA_RUN && stream.avail_in == 0 && stream.avail_out != 0)) return;
  }
}

class LzmaCompressor : public Compressor {
 public:
  explicit LzmaCompressor(uint64_t size) {
    lzma_options_lzma options = StrongestPreset();
    options.dict_size = MemberDictionary(size);
    // The end marker costs a few bytes a member and is what 7-Zip and Python's
    // zipfile write: a reader that has no size at hand stops on it too.
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    uint8_t header[4 + 5] = {LZMA_VERSION_MAJOR, LZMA_VERSION_MINOR, 5, 0};
    if (lzma_properties_encode(filters, header + 4) != LZMA_OK || lzma_raw_encoder(&stream_, filters) != LZMA_OK)
      throw InputError("liblzma: cannot start the LZMA encoder (out of memory?)");
    header_.assign(header, header + sizeof header);
  }
  ~LzmaCompressor() override { lzma_end(&stream_); }
  void Feed(const uint8_t *data, size_t count, const PieceSink &sink) override { Run(data, count, LZMA_RUN, sink); }
  void Finish(const PieceSink &sink) override { Run(nullptr, 0, LZMA_FINISH, sink); }

 private:
  void Run(const uint8_t *data, size_t count, lzma_action action, const PieceSink &sink) {
    if (!header_.empty()) {
      std::copy(header_.begin(), header_.end(), out_.Free());
      out_.Filled(out_.Room() - header_.size(), sink, false);
      header_.clear();
    }
    RunLzma(stream_, out_, data, count, action, sink);
  }
  lzma_stream stream_ = LZMA_STREAM_INIT;  // liblzma's state
  std::vector<uint8_t> header_;            // the member's LZMA header, until the first piece takes it
  PieceBuffer out_;                        // compressed bytes not yet handed on
};

// liblzma's raw LZMA2 encoder: a sync flush ends the chunk at hand, and the
// next chunk goes on with the dictionary and the coder's state.
class LzmaBlockEncoder : public BlockEncoder {
 public:
  explicit LzmaBlockEncoder(uint64_t total) : code_(BlockDictionaryCode(total)) {
    options_ = StrongestPreset();
    options_.dict_size = (uint32_t)BlockDictionarySize(code_);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options_}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_raw_encoder(&stream_, filters) != LZMA_OK)
      throw InputError("liblzma: cannot start the LZMA2 encoder (out of memory?)");
  }
  ~LzmaBlockEncoder() override { lzma_end(&stream_); }
  void Encode(const uint8_t *data, size_t count, const PieceSink &sink) override {
    RunLzma(stream_, out_, data, count, LZMA_RUN, sink);
  }
  void FlushMember(const PieceSink &sink) override { RunLzma(stream_, out_, nullptr, 0, LZMA_SYNC_FLUSH, sink); }
  void Finish() override { lzma_end(&stream_); }

 protected:
  uint8_t DictionaryCode() const override { return code_; }

 private:
  uint8_t code_;
  lzma_options_lzma options_;
  lzma_stream stream_ = LZMA_STREAM_INIT;
  PieceBuffer out_;
};
#endif

}  // namespace

uint8_t BlockEncoder::MemberHead() {
  uint8_t head = (uint8_t)(DictionaryCode() | (opened_ ? 0 : SolidOpensBlock));
  opened_ = true;
  return head;
}

uint64_t BlockDictionarySize(uint8_t code) { return (uint64_t)(2 | (code & 1)) << (code / 2 + 11); }

uint8_t BlockDictionaryCode(uint64_t total) {
  const uint8_t largest = 28;  // 64 MiB, liblzma's strongest preset
  static_assert(((2 | (largest & 1)) << (largest / 2 + 11)) == 64 << 20, "code 28 is 64 MiB");
  uint8_t code = 0;
  while (code < largest && BlockDictionarySize(code) < total) code++;
  return code;
}

std::unique_ptr<BlockEncoder> MakeBlockEncoder(uint64_t total) {
#ifdef SFXMAKE_LZMA
  if (!OwnLzmaEncoder()) return std::make_unique<LzmaBlockEncoder>(total);
#endif
  return std::make_unique<OwnBlockEncoder>(total);
}

uint64_t EncoderMemory(uint16_t method, uint64_t size) {
  if (method == MethodDeflated || method == MethodStored) return 512 << 10;  // zlib's level 9: 256 KiB and buffers
  if (OwnLzmaEncoder()) {
    LzmaEncoderSettings settings;
    settings.DictSize = method == MethodSolid ? (uint32_t)BlockDictionarySize(BlockDictionaryCode(size)) : MemberDictionary(size);
    return LzmaEncoderMemory(settings) + (2 << 20);  // and the pieces read and written
  }
#ifdef SFXMAKE_LZMA
  lzma_options_lzma options = StrongestPreset();
  options.dict_size = method == MethodSolid ? (uint32_t)BlockDictionarySize(BlockDictionaryCode(size))
                                            : MemberDictionary(size);
  const lzma_filter filters[] = {{method == MethodSolid ? LZMA_FILTER_LZMA2 : LZMA_FILTER_LZMA1, &options},
                                 {LZMA_VLI_UNKNOWN, nullptr}};
  uint64_t memory = lzma_raw_encoder_memusage(filters);
  if (memory != UINT64_MAX) return memory + (2 << 20);  // and the pieces read and written
#endif
  return 1ull << 30;
}

bool OwnLzmaEncoder() {
#ifdef SFXMAKE_LZMA
  const char *choice = std::getenv("SFXMAKE_LZMA_ENCODER");
  return !choice || std::strcmp(choice, "liblzma") != 0;
#else
  return true;
#endif
}

std::unique_ptr<Compressor> MakeCompressor(uint16_t method, uint64_t size) {
  if (method == MethodLzma) {
#ifdef SFXMAKE_LZMA
    if (!OwnLzmaEncoder()) return std::make_unique<LzmaCompressor>(size);
#endif
    return std::make_unique<OwnLzmaCompressor>(size);
  }
  return std::make_unique<DeflateCompressor>();
}

uint16_t ParseMethod(const std::string &name) {
  if (name == "store") return MethodStored;
  if (name == "deflate") return MethodDeflated;
  if (name != "lzma") throw InputError("--method takes store, deflate or lzma, not '" + name + "'");
  return MethodLzma;
}
