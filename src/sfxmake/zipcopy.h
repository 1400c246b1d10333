// zipcopy.h -- how a ZIP input goes into the program: copied in pieces, its
// offsets adjusted as asked; without the members --include and --exclude leave
// out, their bytes dropped and the directory written anew. Nothing is recompressed.
#ifndef SFXKIT_SFXMAKE_ZIPCOPY_H
#define SFXKIT_SFXMAKE_ZIPCOPY_H

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"
#include "pattern.h"
#include "ziparchive.h"

// What to write: the pieces of the input in order, then Tail, then Patches over
// what was written (positions counting from where the archive starts in the program).
struct ZipCopyPlan {
  struct Piece {
    uint64_t At, Size;  // a stretch of the input
  };
  std::vector<Piece> Pieces;
  Bytes Tail;
  std::vector<OffsetPatch> Patches;
};

// The plan for `archive` (its directory `dir`, read from its start), whose
// recorded offsets are to grow by `add` (0: they stay relative to the archive).
// Every member the filter keeps goes in, with the folder entries that lead to a
// kept member; the kept members' local headers and data (and anything up to the
// next member) are copied as they are, their central records too, with the
// offsets they now have, and the end records with the new counts and places.
// When the filter keeps everything, the whole input is copied and only its
// offsets are patched. InputError, naming `what`, when no member is kept or an
// offset would need a ZIP64 field the archive lacks.
ZipCopyPlan PlanZipCopy(ByteView archive, const ZipDirectory &dir, const MemberFilter &filter, uint64_t add,
                        const std::string &what);

#endif
