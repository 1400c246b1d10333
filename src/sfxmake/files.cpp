// files.cpp -- whole-file reading and all-or-nothing writing of sfxmake's outputs.
#include "files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "errors.h"
#include "platform.h"

namespace fs = std::filesystem;

Bytes ReadWholeFile(const std::string &path) { return ReadFileStart(path, SIZE_MAX); }

Bytes ReadFileStart(const std::string &path, size_t limit) {
  std::FILE *f = OpenFile(path, "rb");
  if (!f) throw InputError("cannot open " + path + ": " + std::strerror(errno));
  // Read in place, in one block sized from the start: a file of gigabytes is
  // never copied to a larger one. A file that grows meanwhile is read on.
  std::error_code ec;
  uintmax_t size = fs::file_size(PathFromUtf8(path), ec);
  Bytes data(ec ? 0 : (size_t)std::min<uintmax_t>(size, limit));
  data.resize(std::fread(data.data(), 1, data.size(), f));
  uint8_t block[65536];
  size_t n;
  while (data.size() < limit && (n = std::fread(block, 1, std::min(sizeof block, limit - data.size()), f)) > 0)
    data.insert(data.end(), block, block + n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) throw InputError("cannot read " + path);
  return data;
}

namespace {
// The folder an output goes into; InputError naming the output when it cannot be opened.
Folder OutputFolder(const std::string &path) {
  Folder folder;
  if (!folder.Open(PathToUtf8(PathFromUtf8(path).parent_path()), false))
    throw InputError("cannot create " + path + ": " + SystemErrorText());
  return folder;
}
}  // namespace

OutputFile::OutputFile(const std::string &path)
    : path_(path), folder_(OutputFolder(path)), staged_(folder_, PathToUtf8(PathFromUtf8(path).filename()), path) {}

void OutputFile::Write(const void *data, size_t count) {
  enum : size_t { Block = 65536 };
  const uint8_t *bytes = (const uint8_t *)data;
  std::FILE *file = staged_.Stream();
  for (size_t at = 0; at < count;) {
    size_t n = std::min<size_t>(Block, count - at);
    const uint8_t *piece = bytes + at;
    // Passing over is only for new ground: a rewritten stretch may hold old bytes.
    if (n == Block && written_ >= extent_ && piece[0] == 0 && std::memcmp(piece, piece + 1, n - 1) == 0) {
      zeros_ += n;
    } else {
      if (zeros_ && !SeekForward(file, zeros_)) throw InputError("cannot write " + path_ + ": " + std::strerror(errno));
      zeros_ = 0;
      if (std::fwrite(piece, 1, n, file) != n) throw InputError("cannot write " + path_ + ": " + std::strerror(errno));
    }
    at += n;
    written_ += n;
    extent_ = std::max(extent_, written_);
  }
}

void OutputFile::Rewind(uint64_t at) {
  if (!SeekTo(staged_.Stream(), at)) throw InputError("cannot write " + path_ + ": " + std::strerror(errno));
  written_ = at;
  zeros_ = 0;
}

namespace {
// Reads or writes at `at`, then returns to `resume`, where the next Write goes.
template <class Transfer>
void TransferAt(std::FILE *file, uint64_t at, uint64_t resume, Transfer transfer, const std::string &what) {
  if (!SeekTo(file, at) || !transfer() || !SeekTo(file, resume)) throw InputError(what + ": " + std::strerror(errno));
}
}  // namespace

void OutputFile::WriteAt(uint64_t at, const void *data, size_t count) {
  std::FILE *file = staged_.Stream();
  TransferAt(file, at, written_ - zeros_, [&] { return std::fwrite(data, 1, count, file) == count; },
             "cannot write " + path_);
}

void OutputFile::ReadAt(uint64_t at, void *data, size_t count) {
  std::FILE *file = staged_.Stream();
  TransferAt(file, at, written_ - zeros_, [&] { return std::fread(data, 1, count, file) == count; },
             "cannot read back " + path_);
}

std::FILE *OutputFile::Settled() {
  std::FILE *file = staged_.Stream();
  // Zeros at the very end: the last one is written, which gives the file its length.
  if (zeros_) {
    uint8_t zero = 0;
    if (!SeekForward(file, zeros_ - 1) || std::fwrite(&zero, 1, 1, file) != 1)
      throw InputError("cannot write " + path_ + ": " + std::strerror(errno));
    zeros_ = 0;
  }
  if (std::fflush(file) != 0) throw InputError("cannot write " + path_ + ": " + std::strerror(errno));
  return file;
}

void OutputFile::Commit() {
  if (written_ < extent_) throw std::logic_error("an output was rewritten shorter than it was; old bytes would remain");
  Settled();
  staged_.Commit(nullptr);
}
