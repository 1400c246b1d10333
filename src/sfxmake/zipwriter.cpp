// zipwriter.cpp -- writes a folder as a ZIP archive the stub can unpack.
#include "zipwriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <cstdio>
#include <memory>

#include "aeswriter.h"
#include "compressor.h"
#include "coreglue.h"
#include "crypt.h"
#include "decrypt.h"
#include "errors.h"
#include "hostcipher.h"
#include "platform.h"
#include "progress.h"
#include "sfxcore.h"
#include "utf8.h"
#include "workers.h"
#include "ziparchive.h"

namespace fs = std::filesystem;

namespace {

// Host "Windows NTFS", version 6.3 (UTF-8 names): the stub keeps such names byte
// for byte unless they are flagged as UTF-8.
const uint16_t VersionMadeBy = (10 << 8) | 63;
const uint16_t VersionStored = 10, VersionDeflated = 20, VersionZip64 = 45, VersionAes = 51, VersionLzma = 63;
const uint32_t ArchiveAttribute = 0x20;

// Files of this size or more are stored as they are: their sizes need ZIP64
// anyway, and compressing gigabytes at the strongest settings takes the better
// part of an hour.
const uint64_t StoredFileSize = Zip64Marker;

// Files are read, and compressed output is written, in pieces of this size.
enum : size_t { ReadPieceSize = 1 << 20 };

// The extended timestamp (0x5455) with the modification time alone: flag 1 and
// the time as signed 32-bit Unix seconds, the same in local and central headers.
enum : uint32_t { TimestampFieldSize = 4 + 5 };
// The ZIP64 field at its largest: three 8-byte values behind its header.
enum : uint32_t { Zip64FieldMaxSize = 4 + 3 * 8 };

// MS-DOS date and time; the format spans 1980 to 2107, times outside are clamped.
void DosDateTime(int64_t seconds, bool utc, uint16_t *date, uint16_t *time) {
  std::tm tm{};
  if (!BreakDownTime(seconds, utc, &tm) || tm.tm_year < 80) {
    *date = (0 << 9) | (1 << 5) | 1;  // 1980-01-01 00:00:00
    *time = 0;
  } else if (tm.tm_year > 207) {
    *date = (127 << 9) | (12 << 5) | 31;  // 2107-12-31 23:59:58
    *time = (23 << 11) | (59 << 5) | 29;
  } else {
    *date = (uint16_t)(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    *time = (uint16_t)((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  }
}

// Bytes nobody can predict in front of encrypted data: from the system's random
// source, or, for builds that must come out identical, the first of `derived`
// (see FirstReading).
void UnpredictableBytes(uint8_t *bytes, uint32_t count, const uint8_t *derived) {
  if (derived) std::copy(derived, derived + count, bytes);
  else if (!RandomBytes(bytes, count)) throw InputError("the system's random source failed; cannot make encryption headers");
}

// Whether a name is flagged as UTF-8: ASCII is stored as it is, anything else as
// UTF-8 with the flag that says so, the same on every build machine whatever its code page.
bool NeedsUtf8Flag(const std::string &name) {
  bool beyondAscii = std::any_of(name.begin(), name.end(), [](char ch) { return (uint8_t)ch >= 0x80; });
  if (beyondAscii && !IsUtf8(name))
    throw InputError("the name " + name + " is not UTF-8; an archive cannot say which characters it means");
  return beyondAscii;
}

// Appends bytes to the archive being built.
void Append(Bytes &out, const void *data, size_t count) {
  out.insert(out.end(), (const uint8_t *)data, (const uint8_t *)data + count);
}

// Appends a record's fixed part: its signature, then zeros for the caller to
// fill in before anything else is appended.
uint8_t *AppendRecord(Bytes &out, const uint8_t *signature, size_t size) {
  out.resize(out.size() + size);
  uint8_t *record = &out[out.size() - size];
  std::copy(signature, signature + 4, record);
  return record;
}

void AppendTimestampField(Bytes &out, int64_t mtime) {
  uint8_t field[TimestampFieldSize];
  PutLE16(field, 0x5455);
  PutLE16(field + 2, 5);
  field[4] = 1;
  PutLE32(field + 5, (uint32_t)(int32_t)mtime);
  Append(out, field, sizeof field);
}

// The ZIP64 field with the given values, in their fixed order; nothing when none is given.
void AppendZip64Field(Bytes &out, const std::vector<uint64_t> &values) {
  if (values.empty()) return;
  uint8_t field[Zip64FieldMaxSize];
  PutLE16(field, Zip64FieldId);
  PutLE16(field + 2, (uint16_t)(8 * values.size()));
  for (size_t i = 0; i < values.size(); ++i) PutLE64(field + 4 + 8 * i, values[i]);
  Append(out, field, 4 + 8 * values.size());
}

// A 32-bit field's content: the value, or the marker that sends the reader to the ZIP64 field.
uint32_t Field32Or64(uint64_t value) { return value >= Zip64Marker ? (uint32_t)Zip64Marker : (uint32_t)value; }

// The encryption of one member's data, applied to each piece as it is written:
// what goes before the data, the pieces encrypted in place, what goes after.
class MemberCipher {
 public:
  virtual ~MemberCipher() = default;
  virtual uint32_t Overhead() const = 0;              // bytes it adds before and after the data
  virtual void Start(OutputFile &out) = 0;            // writes what precedes the data
  virtual void Update(uint8_t *piece, size_t n) = 0;  // encrypts the next piece of data in place
  virtual void Finish(OutputFile &out) = 0;           // writes what follows the data
};

// The traditional ZIP encryption: the 12-byte header, then one key stream over it
// and the data. The header's last byte is the CRC's top byte (no data descriptor
// is written), which lets a reader tell a wrong password from a right one, so the
// CRC must be known before the first byte is written.
class TraditionalCipher : public MemberCipher {
 public:
  TraditionalCipher(const std::string &password, const uint8_t *derived, uint32_t crc)
      : password_(password), derived_(derived), crc_(crc) {}
  uint32_t Overhead() const override { return CryptHeaderSize; }
  void Start(OutputFile &out) override {
    uint8_t header[CryptHeaderSize];
    UnpredictableBytes(header, CryptHeaderSize - 1, derived_);
    header[CryptHeaderSize - 1] = (uint8_t)(crc_ >> 24);
    InitKeys(password_.data(), (uint32_t)password_.size());
    Update(header, sizeof header);
    out.Write(header, sizeof header);
  }
  void Update(uint8_t *piece, size_t n) override { EncryptBuffer(piece, (uint32_t)n); }
  void Finish(OutputFile &) override {}

 private:
  const std::string &password_;  // ASCII
  const uint8_t *derived_;       // the header's first bytes for a fixed header; null: random
  uint32_t crc_;                 // of the member's data
};

// AES as members carry it (AE-2): the salt and password verifier in front of the
// data, the authentication code behind it.
class AesCipher : public MemberCipher {
 public:
  AesCipher(uint8_t strength, const std::string &password, const uint8_t *derived)
      : aes_(strength, password), strength_(strength), derived_(derived) {}
  uint32_t Overhead() const override { return aes_.HeaderSize() + AesMemberWriter::TrailerSize; }
  void Start(OutputFile &out) override {
    uint8_t header[MaxProtectionHeader];
    UnpredictableBytes(header, AesSaltSize(strength_), derived_);
    aes_.Start(header);
    out.Write(header, aes_.HeaderSize());
  }
  void Update(uint8_t *piece, size_t n) override { aes_.Update(piece, (uint32_t)n); }
  void Finish(OutputFile &out) override {
    uint8_t code[AesMemberWriter::TrailerSize];
    aes_.Finish(code);
    out.Write(code, sizeof code);
  }

 private:
  AesMemberWriter aes_;
  uint8_t strength_;
  const uint8_t *derived_;  // the salt for a fixed header; null: random
};

// Opens a source file for reading; InputError when it cannot be.
std::FILE *OpenSource(const SourceFile &f) {
  std::FILE *in = OpenFile(f.Path, "rb");
  if (!in) throw InputError("cannot open " + f.Path);
  return in;
}

[[noreturn]] void UnreadableSource(const SourceFile &f) {
  throw InputError("cannot read " + f.Path + " (did it change while the archive was built?)");
}

// Reads the whole file in pieces, handing each to `piece` (which may change it
// and returns false to stop early). InputError when the file cannot be read or
// does not hold the size it was listed with: a file that changes while the
// archive is built would leave headers that do not fit its data.
template <class Piece>
void ReadInPieces(const SourceFile &f, Bytes &buffer, Piece piece) {
  std::FILE *in = OpenSource(f);
  uint64_t total = 0;
  size_t n;
  bool more = true;
  while (more && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
    total += n;
    more = piece(buffer.data(), n);
  }
  bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed || (more && total != f.Size)) UnreadableSource(f);
}

// A first reading of a file, where the header in front of its data needs it:
// its CRC-32, and for fixed headers the HMAC-SHA-256, keyed with the password,
// of the name's length (32 bits, little-endian), the name and the data. The
// derived bytes stay the same from build to build; without the password they
// let nobody confirm a guess of the content, as bytes computed from the name
// and CRC-32 would (the very thing AE-2 leaves the CRC-32 out to prevent).
struct FirstReading {
  uint32_t Crc;
  uint8_t Derived[KeyedHashSize];
};
static_assert((uint32_t)KeyedHashSize >= (uint32_t)AesMaxSaltSize && (uint32_t)KeyedHashSize >= CryptHeaderSize - 1u,
              "one hash fills any header");

FirstReading ReadFirst(const SourceFile &f, const std::string &password, bool derive, Bytes &buffer) {
  FirstReading r{};
  KeyedHash hash = {};
  if (derive) {
    uint8_t length[4];
    PutLE32(length, (uint32_t)f.Name.size());
    if (!OpenKeyedHash(&hash, (const uint8_t *)password.data(), (uint32_t)password.size()))
      throw InputError("the system's keyed hash failed; cannot derive fixed encryption headers");
    UpdateKeyedHash(&hash, length, sizeof length);
    UpdateKeyedHash(&hash, (const uint8_t *)f.Name.data(), (uint32_t)f.Name.size());
  }
  uLong crc = crc32(0, nullptr, 0);
  ReadInPieces(f, buffer, [&](uint8_t *piece, size_t n) {
    crc = crc32(crc, piece, (uInt)n);
    if (derive) UpdateKeyedHash(&hash, piece, (uint32_t)n);
    return true;
  });
  r.Crc = (uint32_t)crc;
  if (derive && !FinishKeyedHash(&hash, r.Derived))
    throw InputError("the system's keyed hash failed; cannot derive fixed encryption headers");
  return r;
}

// What is known of a member before its data: the same for every try at writing it.
struct MemberStart {
  const SourceFile *File;
  int64_t Mtime;        // Unix seconds, clamped
  uint16_t Date, Time;  // MS-DOS
  uint16_t Flags;       // UTF-8 name, encrypted
  uint64_t Offset;      // of its local header in the output
  uint8_t AesStrength;  // 1..3 for AES-128..-256; 0: not AES-encrypted
};

// What writing a member's data came to.
struct MemberData {
  uint16_t Method;  // what it holds
  uint32_t Crc;     // of the file's bytes
  uint64_t Stored;  // bytes behind the local header, encryption included
};

// A member's data compressed ahead of its turn by a worker: the first
// SpoolMemory bytes in memory, the rest in a temporary file.
class Spool {
 public:
  ~Spool() {
    if (rest_) std::fclose(rest_);
  }
  bool Smaller = true;  // false: compressing was given up as it did not make the data smaller
  uint32_t Crc = 0;     // of the file's bytes (when Smaller)
  uint64_t Size = 0;    // compressed bytes held
  void Add(const uint8_t *data, size_t count) {
    size_t kept = std::min<uint64_t>(count, SpoolMemory - std::min<uint64_t>(SpoolMemory, Size));
    head_.insert(head_.end(), data, data + kept);
    if (kept < count) {
      if (!rest_ && !(rest_ = std::tmpfile())) throw InputError("cannot create a temporary file: " + SystemErrorText());
      if (std::fwrite(data + kept, 1, count - kept, rest_) != count - kept)
        throw InputError("cannot write a temporary file: " + SystemErrorText());
    }
    Size += count;
  }
  // Hands the bytes held to `piece` in order, in pieces of at most buffer's size.
  template <class Piece>
  void Replay(Bytes &buffer, Piece piece) {
    for (size_t at = 0; at < head_.size(); at += buffer.size()) {
      size_t n = std::min(buffer.size(), head_.size() - at);
      std::copy(head_.begin() + at, head_.begin() + at + n, buffer.begin());
      piece(buffer.data(), n);
    }
    if (!rest_) return;
    std::rewind(rest_);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), rest_)) > 0) piece(buffer.data(), n);
    if (std::ferror(rest_)) throw InputError("cannot read a temporary file: " + SystemErrorText());
  }

 private:
  enum : uint64_t { SpoolMemory = 256 << 10 };  // a compressor's piece: a big member costs no more memory than a small one
  Bytes head_;
  std::FILE *rest_ = nullptr;
};

// A worker's part: compresses file f with `method` into `spool`, giving up as
// soon as the output reaches the file's size. The progress counts every byte
// of the file, read or not.
void CompressAhead(const SourceFile &f, uint16_t method, Spool &spool, Progress &progress) {
  Bytes buffer(ReadPieceSize);
  std::unique_ptr<Compressor> compressor = MakeCompressor(method, f.Size);
  PieceSink sink = [&](uint8_t *piece, size_t n) {
    if (spool.Size + n >= f.Size) spool.Smaller = false;
    if (spool.Smaller) spool.Add(piece, n);
  };
  uLong crc = crc32(0, nullptr, 0);
  uint64_t read = 0;
  ReadInPieces(f, buffer, [&](uint8_t *piece, size_t n) {
    crc = crc32(crc, piece, (uInt)n);
    read += n;
    progress.Count(n);
    compressor->Feed(piece, n, sink);
    return spool.Smaller;
  });
  if (spool.Smaller) compressor->Finish(sink);
  else progress.Count(f.Size - read);
  spool.Crc = (uint32_t)crc;
}

bool NeedsWideSizes(uint64_t size, uint64_t stored) { return size >= Zip64Marker || stored >= Zip64Marker; }

// The local header of a member: its fixed part, name and extra field. A local
// header carries both sizes in its ZIP64 field when either needs it.
Bytes LocalHeader(const MemberStart &m, const MemberData &d, bool wide) {
  const SourceFile &f = *m.File;
  bool zip64 = wide || m.Offset >= Zip64Marker;
  uint16_t needed = d.Method == MethodLzma || d.Method == MethodSolid ? VersionLzma
                    : m.AesStrength ? VersionAes
                    : zip64 ? VersionZip64
                    : (d.Method == MethodDeflated || m.Flags & FlagEncrypted) ? VersionDeflated : VersionStored;
  Bytes extra;
  if (wide) AppendZip64Field(extra, {f.Size, d.Stored});
  if (m.Mtime >= INT32_MIN && m.Mtime <= INT32_MAX) AppendTimestampField(extra, m.Mtime);
  if (m.AesStrength) AppendAesField(extra, m.AesStrength, d.Method);
  Bytes header;
  uint8_t *local = AppendRecord(header, LocalHeaderSignature, LocalHeaderSize);
  PutLE16(local + LocalHeaderVersion, needed);
  PutLE16(local + LocalHeaderFlags, (uint16_t)(m.Flags | (d.Method == MethodLzma ? FlagLzmaEndMarker : 0)));
  PutLE16(local + LocalHeaderMethod, m.AesStrength ? (uint16_t)MethodAes : d.Method);
  PutLE16(local + LocalHeaderDosTime, m.Time);
  PutLE16(local + LocalHeaderDosDate, m.Date);
  PutLE32(local + LocalHeaderCrc32, m.AesStrength ? 0 : d.Crc);  // AES: the authentication code checks the data
  PutLE32(local + LocalHeaderCompressed, wide ? (uint32_t)Zip64Marker : (uint32_t)d.Stored);
  PutLE32(local + LocalHeaderUncompressed, wide ? (uint32_t)Zip64Marker : (uint32_t)f.Size);
  PutLE16(local + LocalNameLength, (uint16_t)f.Name.size());
  PutLE16(local + LocalExtraLength, (uint16_t)extra.size());
  Append(header, f.Name.data(), f.Name.size());
  Append(header, extra.data(), extra.size());
  return header;
}

// Writes a member at out's position: the local header (its CRC and sizes
// filled in once the data is written), then the data, each piece encrypted by
// `cipher` when there is one. The data is the compressed bytes of `spool`, or
// the file read now: stored, or (method MethodSolid) compressed by `block`.
// `progress`, when given, moves on with the bytes read here.
MemberData WriteMember(OutputFile &out, const MemberStart &m, uint16_t method, bool wide, MemberCipher *cipher,
                       Bytes &buffer, Progress *progress, BlockEncoder *block, Spool *spool) {
  const SourceFile &f = *m.File;
  MemberData d = {method, 0, cipher ? cipher->Overhead() : 0};
  out.Write(LocalHeader(m, d, wide));
  if (cipher) cipher->Start(out);
  auto write = [&](uint8_t *piece, size_t n) {
    if (cipher) cipher->Update(piece, n);
    out.Write(piece, n);
    d.Stored += n;
  };
  if (spool) {
    spool->Replay(buffer, write);
    d.Crc = spool->Crc;
  } else {
    if (method == MethodSolid) {
      uint8_t head = block->MemberHead();
      write(&head, 1);
    }
    PieceSink compressed = write;
    uLong crc = crc32(0, nullptr, 0);
    ReadInPieces(f, buffer, [&](uint8_t *piece, size_t n) {
      crc = crc32(crc, piece, (uInt)n);
      if (progress) progress->Count(n);
      if (method == MethodSolid) block->Encode(piece, n, compressed);
      else write(piece, n);
      return true;
    });
    if (method == MethodSolid) block->FlushMember(compressed);
    d.Crc = (uint32_t)crc;
  }
  if (cipher) cipher->Finish(out);
  Bytes header = LocalHeader(m, d, wide);
  out.WriteAt(m.Offset, header.data(), header.size());
  return d;
}
}  // namespace

void WriteFolderArchive(const std::vector<SourceFile> &files, const FolderArchiveOptions &o, OutputFile &out,
                        std::vector<EncodedMember> *encoded) {
  PrepareCore();  // the encryption keys are driven by the core's CRC table
  uint64_t total = 0;
  for (const SourceFile &f : files) total += f.Size;
  Progress progress("building", files.size(), total, o.Quiet);
  Bytes central, buffer(ReadPieceSize);
  // The solid block takes every file that would be compressed; its encoder
  // starts with the first of them. Without it, workers compress the files
  // ahead of their turn, one encoder each.
  auto compressible = [&](const SourceFile &f) { return f.Size && f.Size < StoredFileSize; };
  uint64_t blockTotal = 0, largest = 0;
  for (const SourceFile &f : files) {
    if (compressible(f)) blockTotal += f.Size, largest = std::max(largest, f.Size);
  }
  bool ahead = !o.Solid && o.Method != MethodStored;
  unsigned workers = ahead ? WorkerCount(o.Jobs, files.size(), EncoderMemory(o.Method, largest)) : 1;
  std::vector<std::unique_ptr<Spool>> spools(files.size());
  std::unique_ptr<BlockEncoder> block;
  auto work = [&](size_t i) {
    if (!ahead || !compressible(files[i])) return;
    spools[i] = std::make_unique<Spool>();
    CompressAhead(files[i], o.Method, *spools[i], progress);
  };
  auto take = [&](size_t i) {
    const SourceFile &f = files[i];
    std::unique_ptr<Spool> spool = std::move(spools[i]);
    if (spool && !spool->Smaller) spool.reset();
    MemberStart m{&f, 0, 0, 0, 0, out.Position(), 0};
    FileModTime(f.Path, &m.Mtime);
    if (o.SourceDateEpoch) m.Mtime = std::min(m.Mtime, *o.SourceDateEpoch);
    DosDateTime(m.Mtime, o.Reproducible, &m.Date, &m.Time);
    m.Flags = NeedsUtf8Flag(f.Name) ? (uint16_t)FlagUtf8Name : (uint16_t)0;
    uint16_t method = spool                            ? o.Method
                      : o.Solid && compressible(f)     ? (uint16_t)MethodSolid
                                                       : (uint16_t)MethodStored;
    std::unique_ptr<MemberCipher> cipher;
    // A first reading where the header in front of the data needs it: the
    // traditional header always, an AES salt derived from the data.
    bool crcFirst = !o.Password.empty() && (!o.AesStrength || o.FixedEncryptionHeader);
    FirstReading first{};
    if (!o.Password.empty()) {
      m.Flags |= FlagEncrypted;
      if (crcFirst) first = ReadFirst(f, o.Password, o.FixedEncryptionHeader, buffer);
      const uint8_t *derived = o.FixedEncryptionHeader ? first.Derived : nullptr;
      if (o.AesStrength) {
        m.AesStrength = o.AesStrength;
        cipher = std::make_unique<AesCipher>(o.AesStrength, o.Password, derived);
      } else {
        cipher = std::make_unique<TraditionalCipher>(o.Password, derived, first.Crc);
      }
    }
    // The sizes are known before the data is written, but for a solid member:
    // it gets ZIP64 fields when its data could reach 4 GiB, LZMA2 adding 3
    // bytes per 64 KiB it stores and a few per chunk.
    uint64_t overhead = cipher ? cipher->Overhead() : 0;
    uint64_t bound = spool ? spool->Size : method == MethodSolid ? f.Size + f.Size / 1024 + 4096 : f.Size;
    bool wide = NeedsWideSizes(f.Size, bound + overhead);
    if (method == MethodSolid && !block) block = MakeBlockEncoder(blockTotal);
    // A file given to a worker was counted there, compressed or not.
    bool countedAhead = ahead && compressible(f);
    MemberData d = WriteMember(out, m, method, wide, cipher.get(), buffer, countedAhead ? nullptr : &progress,
                               block.get(), spool.get());
    if (crcFirst && d.Crc != first.Crc) UnreadableSource(f);  // changed between the two readings
    // What the core's encoder wrote is decoded again before the build commits.
    if (encoded && (d.Method == MethodLzma || d.Method == MethodSolid) && OwnLzmaEncoder())
      encoded->push_back({f.Name, d.Crc});

    // The central record's ZIP64 field holds only what its 32-bit fields cannot.
    std::vector<uint64_t> wideValues;
    if (f.Size >= Zip64Marker) wideValues.push_back(f.Size);
    if (d.Stored >= Zip64Marker) wideValues.push_back(d.Stored);
    if (m.Offset >= Zip64Marker) wideValues.push_back(m.Offset);
    Bytes extra;
    AppendZip64Field(extra, wideValues);
    if (m.Mtime >= INT32_MIN && m.Mtime <= INT32_MAX) AppendTimestampField(extra, m.Mtime);
    if (m.AesStrength) AppendAesField(extra, m.AesStrength, d.Method);
    Bytes local = LocalHeader(m, d, wide);
    uint8_t *c = AppendRecord(central, CentralHeaderSignature, EntrySize);
    PutLE16(c + EntryVersionMadeBy, VersionMadeBy);
    std::copy(&local[LocalHeaderVersion], &local[LocalNameLength + 2], c + EntryVersionNeeded);
    PutLE32(c + EntryCompressedSize, Field32Or64(d.Stored));
    PutLE32(c + EntryUncompressedSize, Field32Or64(f.Size));
    PutLE16(c + EntryExtraLength, (uint16_t)extra.size());
    PutLE32(c + EntryExternalAttributes, ArchiveAttribute);
    PutLE32(c + EntryLocalHeaderOffset, Field32Or64(m.Offset));
    Append(central, f.Name.data(), f.Name.size());
    Append(central, extra.data(), extra.size());
    progress.Done();
  };
  // Finished work waits for its turn in memory (up to 256 KiB a member) and
  // temporary files: a few members ahead per worker bound it.
  RunInOrder(files.size(), workers, 8 * (size_t)workers, work, take);
  if (block) block->Finish();
  uint64_t directoryAt = out.Position();
  uint64_t directorySize = central.size();
  uint64_t entries = files.size();
  // The ZIP64 records only when a count, size or offset does not fit (a count
  // of 0xFFFF would read as the marker).
  if (entries >= 0xFFFF || directorySize >= Zip64Marker || directoryAt >= Zip64Marker) {
    uint64_t zip64At = directoryAt + central.size();
    uint8_t *z = AppendRecord(central, Zip64EndSignature, Zip64EndSize);
    PutLE64(z + Zip64EndLength, Zip64EndSize - Zip64EndLeadSize);
    PutLE16(z + Zip64EndVersionMadeBy, VersionMadeBy);
    PutLE16(z + Zip64EndVersionNeeded, VersionZip64);
    PutLE64(z + Zip64EndDiskEntries, entries);
    PutLE64(z + Zip64EndTotalEntries, entries);
    PutLE64(z + Zip64EndDirectorySize, directorySize);
    PutLE64(z + Zip64EndDirectoryOffset, directoryAt);
    uint8_t *locator = AppendRecord(central, Zip64LocatorSignature, Zip64LocatorSize);
    PutLE64(locator + Zip64LocatorEndOffset, zip64At);
    PutLE32(locator + Zip64LocatorDisks, 1);
  }
  uint8_t *end = AppendRecord(central, EndRecordSignature, EndRecordSize);
  uint16_t shortEntries = entries >= 0xFFFF ? (uint16_t)0xFFFF : (uint16_t)entries;
  PutLE16(end + EndDiskEntries, shortEntries);
  PutLE16(end + EndTotalEntries, shortEntries);
  PutLE32(end + EndDirectorySize, Field32Or64(directorySize));
  PutLE32(end + EndDirectoryOffset, Field32Or64(directoryAt));
  out.Write(central);
}
