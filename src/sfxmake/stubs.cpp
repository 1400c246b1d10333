// stubs.cpp -- the stubs sfxmake carries inside itself, and how a stub file is recognised as ours.
#include "stubs.h"

#include <algorithm>
#include <cstring>

#include "errors.h"
#include "sfxfile.h"

// Generated at build time from the built stubs (embed-stubs.cmake).
extern const unsigned char EmbeddedStub32[];
extern const unsigned long EmbeddedStub32Size;
extern const unsigned char EmbeddedStub64[];
extern const unsigned long EmbeddedStub64Size;

namespace {

enum : uint16_t { MachineI386 = 0x14C, MachineAmd64 = 0x8664, SubsystemGui = 2 };

// A text every build of the stub carries: it is the message of a damaged file.
const char StubMarker[] = "Cannot unzip: file is corrupt.";

void CheckStub(const Bytes &stub, const std::string &what) {
  ImageLayout image = ReadImage(stub, what);
  bool ours = (image.Machine == MachineI386 || image.Machine == MachineAmd64) && image.Subsystem == SubsystemGui &&
              std::search(stub.begin(), stub.end(), StubMarker, StubMarker + std::strlen(StubMarker)) != stub.end();
  if (!ours) throw InputError(what + " is not an sfxkit stub");
  if (image.End != stub.size())
    throw InputError(what + " carries data behind its image; give a bare stub, not a finished program");
}

}  // namespace

Bytes LoadStub(const std::string &choice) {
  if (choice == "32" || choice == "64") {
    bool wide = choice == "64";
    const unsigned char *image = wide ? EmbeddedStub64 : EmbeddedStub32;
    unsigned long size = wide ? EmbeddedStub64Size : EmbeddedStub32Size;
    if (!size) throw InputError("this sfxmake was built without the " + choice + "-bit stub; give --stub FILE");
    return Bytes(image, image + size);
  }
  Bytes stub = ReadWholeFile(choice);
  CheckStub(stub, choice);
  return stub;
}
