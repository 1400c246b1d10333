// zipwriter.cpp -- writes a folder as a ZIP archive the stub can unpack.
#include "zipwriter.h"

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "coreglue.h"
#include "crypt.h"
#include "errors.h"
#include "platform.h"
#include "progress.h"
#include "sfxcore.h"
#include "ziparchive.h"

namespace fs = std::filesystem;

namespace {

// Host "Windows NTFS", version 2.0: the stub keeps such names byte for byte.
const uint16_t VersionMadeBy = (10 << 8) | 20;
const uint32_t ArchiveAttribute = 0x20;

struct SourceFile {
  std::string Path;   // on this system, UTF-8
  std::string Name;   // relative, '/' separators, UTF-8
  uint64_t Size;
};

struct PendingEntry {
  Bytes Central;      // fixed part of the central record, then the name
};

std::vector<SourceFile> CollectFiles(const std::string &folder) {
  std::error_code ec;
  fs::path root = PathFromUtf8(folder);
  if (!fs::is_directory(root, ec)) throw InputError(folder + " is neither a ZIP archive nor a folder");
  std::vector<SourceFile> files;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string name = PathToUtf8(it->path().lexically_relative(root).generic_string());
    files.push_back({PathToUtf8(it->path()), name, (uint64_t)it->file_size(ec)});
  }
  if (ec) throw InputError("cannot read the folder " + folder + ": " + ec.message());
  if (files.empty()) throw InputError(folder + " holds no files");
  if (files.size() > MaxMembers)
    throw InputError(folder + " holds " + std::to_string(files.size()) + " files; an archive holds at most 65535");
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

Bytes Deflate(const Bytes &data) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw InputError("zlib: out of memory");
  Bytes out(deflateBound(&z, (uLong)data.size()));
  z.next_in = const_cast<uint8_t *>(data.data());
  z.avail_in = (uInt)data.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw InputError("zlib: deflate failed");
  return out;
}

// The 12 bytes in front of encrypted data: 11 unpredictable bytes, then the CRC's
// top byte, which lets the stub tell a wrong password from a right one.
void EncryptionHeader(uint8_t *header, const std::string &name, uint32_t crc, bool fixed) {
  if (fixed) {
    uint32_t seed = (uint32_t)crc32(crc, (const Bytef *)name.data(), (uInt)name.size());
    for (uint32_t i = 0; i < CryptHeaderSize - 1; ++i) {
      seed = seed * 1103515245u + 12345u;
      header[i] = (uint8_t)(seed >> 16);
    }
  } else if (!RandomBytes(header, CryptHeaderSize - 1)) {
    throw InputError("the system's random source failed; cannot make encryption headers");
  }
  header[CryptHeaderSize - 1] = (uint8_t)(crc >> 24);
}

std::string StoredName(const std::string &utf8, bool warn, bool *utf8Flag) {
  bool lossless = true;
  std::string ansi = Utf8ToAnsi(utf8, &lossless);
  *utf8Flag = !lossless;
  if (lossless) return ansi;
  if (warn) std::cerr << "sfxmake: warning: the ANSI code page cannot hold the name " << utf8
            << "; it is stored in UTF-8 and the stub will show it garbled\n";
  return utf8;
}

// Appends bytes to the archive being built.
void Append(Bytes &out, const void *data, size_t count) {
  out.insert(out.end(), (const uint8_t *)data, (const uint8_t *)data + count);
}
}  // namespace

Bytes WriteFolderArchive(const std::string &folder, const FolderArchiveOptions &o, uint64_t base) {
  Bytes out;
  PrepareCore();  // the encryption keys are driven by the core's CRC table
  std::vector<SourceFile> files = CollectFiles(folder);
  uint64_t total = 0;
  for (const SourceFile &f : files) total += f.Size;
  Progress progress("building", files.size(), total, o.Quiet);
  std::vector<Bytes> central;
  for (const SourceFile &f : files) {
    Bytes data = ReadWholeFile(f.Path);
    if (data.size() >= 0xFFFFFFFFull) throw InputError(f.Name + " is 4 GiB or larger; the stub cannot unpack it");
    int64_t mtime = 0;
    FileModTime(f.Path, &mtime);
    if (o.Reproducible && o.HasSourceDateEpoch) mtime = std::min(mtime, o.SourceDateEpoch);
    uint16_t date, time;
    DosDateTime(mtime, o.Reproducible, &date, &time);
    uint32_t crc = (uint32_t)crc32(0, data.data(), (uInt)data.size());
    Bytes packed = Deflate(data);
    uint16_t method = MethodDeflated;
    if (packed.size() >= data.size()) packed.swap(data), method = MethodStored;
    bool utf8Name;
    std::string name = StoredName(f.Name, !o.Quiet, &utf8Name);
    uint16_t flags = utf8Name ? (uint16_t)FlagUtf8Name : (uint16_t)0;
    Bytes header;
    if (!o.Password.empty()) {
      flags |= FlagEncrypted;
      header.resize(CryptHeaderSize);
      EncryptionHeader(header.data(), name, crc, o.FixedEncryptionHeader);
      InitKeys(o.Password.data(), (uint32_t)o.Password.size());
      EncryptBuffer(header.data(), (uint32_t)header.size());
      EncryptBuffer(packed.data(), (uint32_t)packed.size());
    }
    uint64_t offset = base + out.size();
    uint64_t stored = header.size() + packed.size();
    if (offset + LocalHeaderSize + name.size() + stored >= 0xFFFFFFFFull)
      throw InputError("the archive reaches 4 GiB; the stub reads only 32-bit sizes and offsets");
    uint16_t needed = (method == MethodDeflated || flags & FlagEncrypted) ? 20 : 10;

    uint8_t local[LocalHeaderSize] = {};
    std::copy(LocalHeaderSignature, LocalHeaderSignature + 4, local);
    PutLE16(local + LocalHeaderVersion, needed);
    PutLE16(local + LocalHeaderFlags, flags);
    PutLE16(local + LocalHeaderMethod, method);
    PutLE16(local + LocalHeaderDosTime, time);
    PutLE16(local + LocalHeaderDosDate, date);
    PutLE32(local + LocalHeaderCrc32, crc);
    PutLE32(local + LocalHeaderCompressed, (uint32_t)stored);
    PutLE32(local + LocalHeaderUncompressed, (uint32_t)(method == MethodStored ? packed.size() : data.size()));
    PutLE16(local + LocalNameLength, (uint16_t)name.size());
    Append(out, local, sizeof local);
    Append(out, name.data(), name.size());
    Append(out, header.data(), header.size());
    Append(out, packed.data(), packed.size());

    Bytes c(EntrySize, 0);
    std::copy(CentralHeaderSignature, CentralHeaderSignature + 4, c.data());
    PutLE16(&c[EntryVersionMadeBy], VersionMadeBy);
    std::copy(local + LocalHeaderVersion, local + LocalNameLength + 2, &c[EntryVersionNeeded]);
    PutLE32(&c[EntryExternalAttributes], ArchiveAttribute);
    PutLE32(&c[EntryLocalHeaderOffset], (uint32_t)offset);
    c.insert(c.end(), name.begin(), name.end());
    central.push_back(std::move(c));
    progress.Step(f.Size);
  }
  uint64_t directoryAt = base + out.size();
  for (const Bytes &c : central) Append(out, c.data(), c.size());
  uint64_t directorySize = base + out.size() - directoryAt;
  if (base + out.size() + EndRecordSize >= 0xFFFFFFFFull)
    throw InputError("the archive reaches 4 GiB; the stub reads only 32-bit sizes and offsets");
  uint8_t end[EndRecordSize] = {};
  std::copy(EndRecordSignature, EndRecordSignature + 4, end);
  PutLE16(end + EndDiskEntries, (uint16_t)central.size());
  PutLE16(end + EndTotalEntries, (uint16_t)central.size());
  PutLE32(end + EndDirectorySize, (uint32_t)directorySize);
  PutLE32(end + EndDirectoryOffset, (uint32_t)directoryAt);
  Append(out, end, sizeof end);
  return out;
}
