// resources.h -- the resource section of a stub image: read as a flat list of
// resources, written back as a new tree (the sections behind it moved and every
// header field that depends on them fixed), and Windows' checksum of a whole file.
#ifndef SFXKIT_SFXMAKE_RESOURCES_H
#define SFXKIT_SFXMAKE_RESOURCES_H

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"

// A type or name of the tree: a text (kept in UTF-16, as the tree holds it) or a number.
struct ResourceKey {
  std::u16string Text;  // a named entry when not empty
  uint16_t Id = 0;      // else this number
  static ResourceKey Number(uint16_t id) { return ResourceKey{u"", id}; }
  static ResourceKey Named(const std::u16string &text) { return ResourceKey{text, 0}; }
  bool operator==(const ResourceKey &o) const { return Text == o.Text && Id == o.Id; }
  // The tree's order: named entries first (by their UTF-16 code units), then numbers.
  bool operator<(const ResourceKey &o) const;
};

struct Resource {
  ResourceKey Type;
  ResourceKey Name;
  uint16_t Language = 0;
  uint32_t CodePage = 0;
  Bytes Data;
};
using Resources = std::vector<Resource>;

// What a resource tree may hold, read and written alike, so that a hostile image
// costs bounded work and whatever sfxmake writes it also reads back: entries of
// all its directories together, and characters of a name.
enum : uint32_t { MaxResourceEntries = 8192, MaxResourceName = 256 };

// Resource types sfxmake writes or reads.
enum : uint16_t { ResTypeIcon = 3, ResTypeGroupIcon = 14, ResTypeVersion = 16, ResTypeManifest = 24 };

// The resources of the image at the start of `file` (a bare stub or a finished
// program); an image without a resource directory has none. InputError, naming
// `what`, when the tree is damaged: a record outside the section, a directory or
// data entry reached twice, more entries or longer names than the limits above.
Resources ReadResources(const Bytes &file, const std::string &what);

// The bare image `image` with its resource section replaced by `resources`.
// The new tree takes the old section's place; the base-relocation section, the
// only one a stub has behind its resources, moves behind it. The checksum is left
// to StampPeChecksum, once the whole file is known. InputError when the image is
// laid out in a way this cannot rewrite safely (other sections behind the
// resources, data directories pointing there, a signature).
Bytes ReplaceResources(const Bytes &image, const Resources &resources);

// Windows' checksum of the whole file (the header's own checksum field counted as
// zero), written into the header, so that the file checks out as the loader and
// the signing tools compute it.
void StampPeChecksum(Bytes &file);
// The same for the file written to `file` so far, read back in pieces; `head`
// is the file's start, the image's headers at least.
void StampPeChecksum(OutputFile &file, const Bytes &head);

#endif
