// reader_fuzzer.cpp -- libFuzzer target: the file-format reader on arbitrary
// bytes behind a stub image.
//
// The bytes take the place of everything a builder appends to a stub: the
// configuration block, the archive and any trailing data. They go through the
// very code sfxmake's info, test and extract run (image end, configuration
// block, end-record search, directory walk, the stub's name rules, local
// headers, each member decoded): whatever the bytes, it must end, report a
// damaged input as an InputError, and stay inside its buffers (the sanitizers
// watch).
#include <stdint.h>
#include <string.h>

#include "coreglue.h"
#include "errors.h"
#include "sfxfile.h"

namespace {

// The smallest image the reader takes for a stub: DOS header, PE32 headers, one
// section whose raw data ends at ImageSize.
Bytes StubImage() {
  enum : uint32_t { PeAt = 0x40, ImageSize = 0x400 };
  Bytes image(ImageSize, 0);
  image[0] = 'M', image[1] = 'Z';
  PutLE32(&image[PeDosOffset], PeAt);
  memcpy(&image[PeAt], "PE\0\0", 4);
  uint8_t *file = &image[PeAt + 4];
  PutLE16(file, 0x14C);
  PutLE16(file + PeFileSectionCount, 1);
  PutLE16(file + PeFileOptionalSize, 224);
  PutLE16(file + PeFileHeaderSize + PeOptionalSubsystem, 2);
  uint8_t *section = file + PeFileHeaderSize + 224;
  PutLE32(section + PeSectionRawSize, ImageSize - 0x200);
  PutLE32(section + PeSectionRawPointer, 0x200);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const Bytes image = StubImage();
  Bytes program(image);
  program.insert(program.end(), data, data + size);
  try {
    SfxFile s = TakeApartSfx(std::move(program), "fuzz.exe");
    try {
      CheckArchiveForStub(s.Data, s.Directory, s.Path);
    } catch (const InputError &) {
      // Refused for the builder; the reader goes on as test and extract do.
    }
    for (const ZipMember &m : s.Directory.Members) {
      if (m.IsFolder) continue;
      try {
        DecodeMember(s, m, {"pw"}, nullptr);
      } catch (const InputError &) {
      }
    }
  } catch (const InputError &) {
  }
  return 0;
}
