// zipwriter.cpp -- writes a folder as a ZIP archive the stub can unpack.
#include "zipwriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "aeswriter.h"
#include "coreglue.h"
#include "crypt.h"
#include "decrypt.h"
#include "errors.h"
#include "platform.h"
#include "progress.h"
#include "sfxcore.h"
#include "utf8.h"
#include "ziparchive.h"

namespace fs = std::filesystem;

namespace {

// Host "Windows NTFS", version 6.3 (UTF-8 names): the stub keeps such names byte
// for byte unless they are flagged as UTF-8.
const uint16_t VersionMadeBy = (10 << 8) | 63;
const uint16_t VersionStored = 10, VersionDeflated = 20, VersionZip64 = 45, VersionAes = 51;
const uint32_t ArchiveAttribute = 0x20;

// Files of this size or more are stored as they are: their sizes need ZIP64
// anyway, deflating gigabytes at level 9 takes minutes, and storing lets their
// bytes be read straight into the archive, which is then held once.
const uint64_t StoredFileSize = Zip64Marker;
static_assert(StoredFileSize - 1 <= UINT32_MAX, "what is deflated fits zlib's 32-bit counts (uInt, and uLong on Windows)");

// The extended timestamp (0x5455) with the modification time alone: flag 1 and
// the time as signed 32-bit Unix seconds, the same in local and central headers.
enum : uint32_t { TimestampFieldSize = 4 + 5 };
// The ZIP64 field at its largest: three 8-byte values behind its header.
enum : uint32_t { Zip64FieldMaxSize = 4 + 3 * 8 };

struct SourceFile {
  std::string Path;   // on this system, UTF-8
  std::string Name;   // relative, '/' separators, UTF-8
  uint64_t Size;
};

// Why Windows cannot create a file of this relative name ('/' between its
// parts), or null when it can: a backslash would be read there as a separator,
// and the other characters, a part ending in a dot or a space, are refused or
// changed by Windows, so the program would unpack another name or fail.
const char *UncreatableOnWindows(const std::string &name) {
  for (size_t at = 0; at <= name.size(); at++) {
    char ch = at < name.size() ? name[at] : '/';
    if ((uint8_t)ch < 0x20 || ch == 0x7F) return "a control character";
    if (std::strchr("<>:\"|?*\\", ch)) return "one of < > : \" | ? * \\";
    if (ch == '/' && at && (name[at - 1] == '.' || name[at - 1] == ' ')) return "a part ending in a dot or a space";
  }
  return nullptr;
}

// The files below `folder`, leaving out `skip` (the output being built, which
// may lie inside it). InputError for names Windows cannot create, every one listed.
std::vector<SourceFile> CollectFiles(const std::string &folder, const std::string &skip) {
  std::error_code ec;
  fs::path root = PathFromUtf8(folder);
  if (!fs::is_directory(root, ec)) throw InputError(folder + " is neither a ZIP archive nor a folder");
  std::vector<SourceFile> files;
  std::string uncreatable;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (!it->is_regular_file(ec) || fs::equivalent(it->path(), PathFromUtf8(skip), ignored)) continue;
    std::string name = PathToUtf8(it->path().lexically_relative(root).generic_string());
    if (const char *why = UncreatableOnWindows(name)) uncreatable += "\n  " + Escape(name, Escaping::Plain) + ": " + why;
    files.push_back({PathToUtf8(it->path()), name, (uint64_t)it->file_size(ec)});
  }
  if (ec) throw InputError("cannot read the folder " + folder + ": " + ec.message());
  if (!uncreatable.empty()) throw InputError("Windows cannot create these names, which the program would unpack:" + uncreatable);
  if (files.empty()) throw InputError(folder + " holds no files");
  std::sort(files.begin(), files.end(), [](const SourceFile &a, const SourceFile &b) { return a.Name < b.Name; });
  return files;
}

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

// The data deflated when that makes it smaller; empty when it does not (the
// member is then stored). The output gets no more room than the data itself:
// no bound is computed, which in zlib's 32-bit uLong (Windows) would wrap for
// files near 4 GiB, and a stream that outgrows the room is not worth finishing.
// Data of StoredFileSize or more (a file that grew while it was read) is stored:
// zlib counts its buffers in 32 bits. Nothing deflates to less than nothing.
Bytes DeflateSmaller(const Bytes &data) {
  if (data.empty() || data.size() >= StoredFileSize) return Bytes();
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw InputError("zlib: out of memory");
  Bytes out(data.size());
  z.next_in = const_cast<uint8_t *>(data.data());
  z.avail_in = (uInt)data.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  int rc = deflate(&z, Z_FINISH);
  size_t packed = out.size() - z.avail_out;
  deflateEnd(&z);
  if (rc != Z_OK && rc != Z_BUF_ERROR && rc != Z_STREAM_END) throw InputError("zlib: deflate failed");
  if (rc != Z_STREAM_END || packed >= data.size()) return Bytes();
  out.resize(packed);
  return out;
}

// Bytes nobody can predict in front of encrypted data, from the system's random
// source, or, for builds that must come out identical, derived from the member.
void UnpredictableBytes(uint8_t *bytes, uint32_t count, const std::string &name, uint32_t crc, bool fixed) {
  if (fixed) {
    uint32_t seed = (uint32_t)crc32(crc, (const Bytef *)name.data(), (uInt)name.size());
    for (uint32_t i = 0; i < count; ++i) {
      seed = seed * 1103515245u + 12345u;
      bytes[i] = (uint8_t)(seed >> 16);
    }
  } else if (!RandomBytes(bytes, count)) {
    throw InputError("the system's random source failed; cannot make encryption headers");
  }
}

// The 12 bytes in front of traditionally encrypted data: 11 unpredictable bytes,
// then the CRC's top byte, which lets the stub tell a wrong password from a right one.
void EncryptionHeader(uint8_t *header, const std::string &name, uint32_t crc, bool fixed) {
  UnpredictableBytes(header, CryptHeaderSize - 1, name, crc, fixed);
  header[CryptHeaderSize - 1] = (uint8_t)(crc >> 24);
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

// Reads the file's `size` bytes straight onto the end of `out`; InputError when it has fewer.
void AppendFileContents(Bytes &out, const SourceFile &f, uint64_t size) {
  std::FILE *in = OpenFile(f.Path, "rb");
  if (!in) throw InputError("cannot open " + f.Path);
  size_t at = out.size();
  out.resize(at + size);
  size_t got = std::fread(out.data() + at, 1, size, in);
  std::fclose(in);
  if (got != size) throw InputError("cannot read " + f.Path + " (did it change while the archive was built?)");
}

// zlib and the core take counts of 32 bits: long buffers go to `work` in pieces.
template <class Work>
void InPieces(uint8_t *data, uint64_t size, Work work) {
  for (uint64_t at = 0; at < size;) {
    uint32_t n = (uint32_t)std::min<uint64_t>(size - at, 1u << 30);
    work(data + at, n);
    at += n;
  }
}

uint32_t Crc32Of(uint8_t *data, uint64_t size) {
  uLong crc = crc32(0, nullptr, 0);
  InPieces(data, size, [&crc](uint8_t *piece, uint32_t n) { crc = crc32(crc, piece, n); });
  return (uint32_t)crc;
}
}  // namespace

void WriteFolderArchive(const std::string &folder, const FolderArchiveOptions &o, Bytes &out) {
  PrepareCore();  // the encryption keys are driven by the core's CRC table
  std::vector<SourceFile> files = CollectFiles(folder, o.Output);
  uint64_t total = 0, room = out.size() + EndRecordSize + Zip64EndSize + Zip64LocatorSize;
  for (const SourceFile &f : files) {
    total += f.Size;
    room += f.Size + 2 * (f.Name.size() + TimestampFieldSize + Zip64FieldMaxSize) + LocalHeaderSize + EntrySize +
            MaxProtectionHeader + AesCodeSize + 4 + AesFieldSize;
  }
  // The archive never takes more than the files stored: held in one block
  // from the start, gigabytes are never copied to a larger one.
  out.reserve(room);
  Progress progress("building", files.size(), total, o.Quiet);
  Bytes central;
  for (const SourceFile &f : files) {
    int64_t mtime = 0;
    FileModTime(f.Path, &mtime);
    if (o.SourceDateEpoch) mtime = std::min(mtime, *o.SourceDateEpoch);
    uint16_t date, time;
    DosDateTime(mtime, o.Reproducible, &date, &time);
    uint16_t flags = NeedsUtf8Flag(f.Name) ? (uint16_t)FlagUtf8Name : (uint16_t)0;
    if (!o.Password.empty()) flags |= FlagEncrypted;
    std::optional<AesMemberWriter> aes;
    if (!o.Password.empty() && o.AesStrength) aes.emplace(o.AesStrength, o.Password);
    uint64_t headerSize = o.Password.empty() ? 0u : aes ? aes->HeaderSize() : (uint32_t)CryptHeaderSize;
    uint64_t trailerSize = aes ? aes->TrailerSize : 0u;

    // Small enough files are read whole and deflated when that makes them smaller.
    bool direct = f.Size >= StoredFileSize;
    Bytes data, packed;
    uint64_t size = f.Size;
    uint16_t method = MethodStored;
    uint32_t crc = 0;  // of a file read straight into the archive: once it is there
    if (!direct) {
      data = ReadWholeFile(f.Path);
      size = data.size();
      crc = Crc32Of(data.data(), data.size());
      packed = DeflateSmaller(data);
      if (!packed.empty()) method = MethodDeflated;
      else packed.swap(data);
    }
    uint64_t stored = headerSize + (direct ? size : packed.size()) + trailerSize;
    uint64_t offset = out.size();
    // A local header carries both sizes in its ZIP64 field when either needs it.
    bool wideSizes = size >= Zip64Marker || stored >= Zip64Marker;
    uint16_t needed = aes ? VersionAes : wideSizes || offset >= Zip64Marker ? VersionZip64
                      : (method == MethodDeflated || flags & FlagEncrypted) ? VersionDeflated : VersionStored;
    bool exactTime = mtime >= INT32_MIN && mtime <= INT32_MAX;

    Bytes extra;
    if (wideSizes) AppendZip64Field(extra, {size, stored});
    if (exactTime) AppendTimestampField(extra, mtime);
    if (aes) AppendAesField(extra, o.AesStrength, method);
    uint8_t *local = AppendRecord(out, LocalHeaderSignature, LocalHeaderSize);
    PutLE16(local + LocalHeaderVersion, needed);
    PutLE16(local + LocalHeaderFlags, flags);
    PutLE16(local + LocalHeaderMethod, aes ? (uint16_t)MethodAes : method);
    PutLE16(local + LocalHeaderDosTime, time);
    PutLE16(local + LocalHeaderDosDate, date);
    PutLE32(local + LocalHeaderCompressed, wideSizes ? (uint32_t)Zip64Marker : (uint32_t)stored);
    PutLE32(local + LocalHeaderUncompressed, wideSizes ? (uint32_t)Zip64Marker : (uint32_t)size);
    PutLE16(local + LocalNameLength, (uint16_t)f.Name.size());
    PutLE16(local + LocalExtraLength, (uint16_t)extra.size());
    Append(out, f.Name.data(), f.Name.size());
    Append(out, extra.data(), extra.size());
    uint64_t dataAt = out.size();
    out.resize(dataAt + headerSize);
    if (direct) {
      AppendFileContents(out, f, size);
      crc = Crc32Of(&out[dataAt + headerSize], size);
    } else {
      Append(out, packed.data(), packed.size());
    }
    if (aes) {
      UnpredictableBytes(&out[dataAt], AesSaltSize(o.AesStrength), f.Name, crc, o.FixedEncryptionHeader);
      aes->Start(&out[dataAt]);
      InPieces(&out[dataAt + headerSize], stored - headerSize - trailerSize,
               [&aes](uint8_t *piece, uint32_t n) { aes->Update(piece, n); });
      out.resize(out.size() + trailerSize);
      aes->Finish(&out[out.size() - trailerSize]);
      crc = 0;  // the authentication code checks the data instead
    }
    PutLE32(&out[offset + LocalHeaderCrc32], crc);
    if (headerSize && !aes) {
      EncryptionHeader(&out[dataAt], f.Name, crc, o.FixedEncryptionHeader);
      InitKeys(o.Password.data(), (uint32_t)o.Password.size());
      InPieces(&out[dataAt], stored, EncryptBuffer);
    }

    // The central record's ZIP64 field holds only what its 32-bit fields cannot.
    std::vector<uint64_t> wide;
    if (size >= Zip64Marker) wide.push_back(size);
    if (stored >= Zip64Marker) wide.push_back(stored);
    if (offset >= Zip64Marker) wide.push_back(offset);
    extra.clear();
    AppendZip64Field(extra, wide);
    if (exactTime) AppendTimestampField(extra, mtime);
    if (aes) AppendAesField(extra, o.AesStrength, method);
    uint8_t *c = AppendRecord(central, CentralHeaderSignature, EntrySize);
    PutLE16(c + EntryVersionMadeBy, VersionMadeBy);
    std::copy(&out[offset + LocalHeaderVersion], &out[offset + LocalNameLength + 2], c + EntryVersionNeeded);
    PutLE32(c + EntryCrc32, crc);
    PutLE32(c + EntryCompressedSize, Field32Or64(stored));
    PutLE32(c + EntryUncompressedSize, Field32Or64(size));
    PutLE16(c + EntryExtraLength, (uint16_t)extra.size());
    PutLE32(c + EntryExternalAttributes, ArchiveAttribute);
    PutLE32(c + EntryLocalHeaderOffset, Field32Or64(offset));
    Append(central, f.Name.data(), f.Name.size());
    Append(central, extra.data(), extra.size());
    progress.Step(f.Size);
  }
  uint64_t directoryAt = out.size();
  Append(out, central.data(), central.size());
  uint64_t directorySize = central.size();
  Bytes().swap(central);
  uint64_t entries = files.size();
  // The ZIP64 records only when a count, size or offset does not fit (a count
  // of 0xFFFF would read as the marker).
  if (entries >= 0xFFFF || directorySize >= Zip64Marker || directoryAt >= Zip64Marker) {
    uint64_t zip64At = out.size();
    uint8_t *z = AppendRecord(out, Zip64EndSignature, Zip64EndSize);
    PutLE64(z + Zip64EndLength, Zip64EndSize - Zip64EndLeadSize);
    PutLE16(z + Zip64EndVersionMadeBy, VersionMadeBy);
    PutLE16(z + Zip64EndVersionNeeded, VersionZip64);
    PutLE64(z + Zip64EndDiskEntries, entries);
    PutLE64(z + Zip64EndTotalEntries, entries);
    PutLE64(z + Zip64EndDirectorySize, directorySize);
    PutLE64(z + Zip64EndDirectoryOffset, directoryAt);
    uint8_t *locator = AppendRecord(out, Zip64LocatorSignature, Zip64LocatorSize);
    PutLE64(locator + Zip64LocatorEndOffset, zip64At);
    PutLE32(locator + Zip64LocatorDisks, 1);
  }
  uint8_t *end = AppendRecord(out, EndRecordSignature, EndRecordSize);
  uint16_t shortEntries = entries >= 0xFFFF ? (uint16_t)0xFFFF : (uint16_t)entries;
  PutLE16(end + EndDiskEntries, shortEntries);
  PutLE16(end + EndTotalEntries, shortEntries);
  PutLE32(end + EndDirectorySize, Field32Or64(directorySize));
  PutLE32(end + EndDirectoryOffset, Field32Or64(directoryAt));
}
