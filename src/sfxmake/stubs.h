// stubs.h -- the stubs sfxmake carries inside itself, and how a stub file is recognised as ours.
#ifndef SFXKIT_SFXMAKE_STUBS_H
#define SFXKIT_SFXMAKE_STUBS_H

#include <string>

#include "files.h"

// The image for --stub: "32" and "64" are the embedded stubs, anything else a
// file. InputError when the embedded stub is missing from this build or the
// file is not a bare sfxkit stub (a Windows GUI image for x86 or x64 that
// carries the stub's own messages and nothing behind its last section).
Bytes LoadStub(const std::string &choice);

#endif
