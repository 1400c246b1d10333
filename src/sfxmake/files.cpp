// files.cpp -- whole-file reading and all-or-nothing writing of sfxmake's outputs.
#include "files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "errors.h"
#include "platform.h"

namespace fs = std::filesystem;

Bytes ReadWholeFile(const std::string &path) {
  std::FILE *f = OpenFile(path, "rb");
  if (!f) throw InputError("cannot open " + path + ": " + std::strerror(errno));
  Bytes data;
  // Held in one block from the start: a file of gigabytes is never copied to a larger one.
  std::error_code ec;
  uintmax_t size = fs::file_size(PathFromUtf8(path), ec);
  if (!ec) data.reserve((size_t)size);
  uint8_t block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) data.insert(data.end(), block, block + n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) throw InputError("cannot read " + path);
  return data;
}

OutputFile::OutputFile(const std::string &path) : path_(path), temp_(path + ".sfxmake-tmp") {
  file_ = OpenFile(temp_, "wb");
  if (!file_) throw InputError("cannot create " + temp_ + ": " + std::strerror(errno));
}

OutputFile::~OutputFile() {
  if (file_) {
    std::fclose(file_);
    std::error_code ignored;
    std::filesystem::remove(PathFromUtf8(temp_), ignored);
  }
}

void OutputFile::Write(const void *data, size_t count) {
  if (count && std::fwrite(data, 1, count, file_) != count)
    throw InputError("cannot write " + path_ + ": " + std::strerror(errno));
  written_ += count;
}

void OutputFile::Commit() {
  bool failed = std::fclose(file_) != 0;
  file_ = nullptr;
  std::error_code ec;
  if (!failed) fs::rename(PathFromUtf8(temp_), PathFromUtf8(path_), ec);  // replaces an existing file on both systems
  if (failed || ec) {
    std::error_code ignored;
    std::filesystem::remove(PathFromUtf8(temp_), ignored);
    throw InputError("cannot write " + path_ + (ec ? ": " + ec.message() : std::string()));
  }
}
