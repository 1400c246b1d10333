// files.h -- whole-file reading and all-or-nothing writing of sfxmake's outputs.
#ifndef SFXKIT_SFXMAKE_FILES_H
#define SFXKIT_SFXMAKE_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The whole file; InputError when it cannot be read.
Bytes ReadWholeFile(const std::string &path);

// An output written under a temporary name beside its final path and renamed into
// place by Commit(), so that a refusal or a crash halfway never leaves a partial
// .exe that looks finished. Without Commit() the destructor removes the temporary.
class OutputFile {
 public:
  explicit OutputFile(const std::string &path);
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  void Write(const void *data, size_t count);
  void Write(const Bytes &data) { Write(data.data(), data.size()); }
  uint64_t Position() const { return written_; }
  void Commit();

 private:
  std::string path_;      // the final name
  std::string temp_;      // where the bytes go until Commit
  std::FILE *file_;       // open on temp_ until Commit or destruction
  uint64_t written_ = 0;  // bytes written so far
};

#endif
