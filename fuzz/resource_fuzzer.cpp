// resource_fuzzer.cpp -- libFuzzer target: a stub image's headers and resources
// as sfxmake reads them and writes them anew.
//
// The input is an .ico file and an image: its first two bytes give the .ico's
// length, the .ico follows, the image takes the rest. The image goes through what
// `sfxmake info` reads of a program (headers, sections, resource tree, version
// resource, icon group, manifest), then through what `sfxmake build` does to a
// stub (the .ico parser, the version resource, the resource writer, the
// checksum). Whatever the bytes, it must end in bounded work, refuse with an
// InputError, and stay inside its buffers (the sanitizers watch); the tree and
// sections the writer made must read back.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "errors.h"
#include "publisher.h"
#include "resources.h"
#include "sfxcore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  size_t icoSize = std::min<size_t>(GetLE16(data), size - 2);
  Bytes ico(data + 2, data + 2 + icoSize), image(data + 2 + icoSize, data + size);
  try {
    ReadPublisher(image, "fuzz.exe");
  } catch (const InputError &) {
  }
  PublisherOptions options;
  options.IconFile = icoSize ? "fuzz.ico" : "";
  options.ProductName = "Fuzz";
  options.FileVersion = "1.2.3.4";
  options.Elevate = size & 1;
  Bytes program;
  try {
    program = ApplyPublisher(image, options, ico);
  } catch (const InputError &) {
    return 0;
  }
  StampPeChecksum(program);
  try {
    ReadResources(program, "rewritten.exe");
  } catch (const InputError &e) {
    fprintf(stderr, "the reader refused the rewritten program: %s\n", e.what());
    abort();  // a tree and sections the writer made, refused by the reader
  }
  try {
    ReadPublisher(program, "rewritten.exe");  // the stub's own parts may still be damaged: build refuses then
  } catch (const InputError &) {
  }
  return 0;
}
