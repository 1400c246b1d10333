// files.h -- whole-file reading and all-or-nothing writing of sfxmake's outputs.
#ifndef SFXKIT_SFXMAKE_FILES_H
#define SFXKIT_SFXMAKE_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform.h"

// Blocks of 64 MiB and more come straight from the system, in huge pages where
// it offers them: what makes holding an archive of gigabytes slow is touching
// it page by page, not copying it. Smaller ones come from the heap.
void *AllocateBlock(size_t size);
void ReleaseBlock(void *block, size_t size);

template <class T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() = default;
  template <class U>
  BlockAllocator(const BlockAllocator<U> &) {}
  T *allocate(size_t n) { return (T *)AllocateBlock(n * sizeof(T)); }
  void deallocate(T *p, size_t n) { ReleaseBlock(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const BlockAllocator<U> &) const { return true; }
  template <class U>
  bool operator!=(const BlockAllocator<U> &) const { return false; }
};

using Bytes = std::vector<uint8_t, BlockAllocator<uint8_t>>;

// Bytes to read, wherever they are held: a Bytes, or a file mapped into memory.
class ByteView {
 public:
  ByteView(const Bytes &bytes) : data_(bytes.data()), size_(bytes.size()) {}  // NOLINT: a Bytes is a view
  ByteView(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  const uint8_t *data() const { return data_; }
  size_t size() const { return size_; }
  const uint8_t *begin() const { return data_; }
  const uint8_t *end() const { return data_ + size_; }
  const uint8_t &operator[](size_t at) const { return data_[at]; }

 private:
  const uint8_t *data_;  // the first byte
  size_t size_;          // how many there are
};

// The whole file; InputError when it cannot be read.
Bytes ReadWholeFile(const std::string &path);
// The same, no more than its first `limit` bytes.
Bytes ReadFileStart(const std::string &path, size_t limit);

// An output written under a temporary name beside its final path and renamed into
// place by Commit(), so that a refusal or a crash halfway never leaves a partial
// .exe that looks finished. Without Commit() the destructor removes the temporary.
// Errors name `path`, never the temporary file.
class OutputFile {
 public:
  explicit OutputFile(const std::string &path);
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  // Whole blocks of zeros are passed over, not written: where the file system
  // keeps holes, a program carrying a mostly empty file of gigabytes costs
  // little to write and to read back.
  void Write(const void *data, size_t count);
  void Write(const Bytes &data) { Write(data.data(), data.size()); }
  uint64_t Position() const { return written_; }
  // Goes back to `at` to write from there again; what follows must reach at
  // least as far as the file did before (Commit refuses a file with old bytes
  // left behind its end).
  void Rewind(uint64_t at);
  // Overwrites `count` bytes at `at`, written before; the position stays.
  void WriteAt(uint64_t at, const void *data, size_t count);
  // Reads `count` bytes at `at`, written before.
  void ReadAt(uint64_t at, void *data, size_t count);
  // The file with every byte written so far in it, zeros at the end included:
  // for reading it back through a mapping.
  std::FILE *Settled();
  void Commit();

 private:
  std::string path_;      // the final name, as the user gave it
  Folder folder_;         // the folder path_ goes into, held open
  StagedFile staged_;     // where the bytes go until Commit
  uint64_t written_ = 0;  // bytes written so far, zeros passed over included
  uint64_t zeros_ = 0;    // zeros passed over and not yet followed by a write
  uint64_t extent_ = 0;   // the furthest written_ has been: behind it the file holds nothing
};

#endif
