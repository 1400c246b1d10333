// publisher.h -- what a publisher puts into a stub's resources so that the program
// looks like their product: the icon from a .ico file, a version resource with the
// product's texts and numbers, the manifest's execution level; and the same read
// back from a finished program for `sfxmake info`.
#ifndef SFXKIT_SFXMAKE_PUBLISHER_H
#define SFXKIT_SFXMAKE_PUBLISHER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "files.h"

// The publisher's choices, texts in UTF-8; empty texts are left out.
struct PublisherOptions {
  std::string IconFile;
  std::string ProductName, ProductVersion, FileVersion, Company, Description, Copyright;
  bool Elevate = false;
  bool HasVersionInfo() const;
  bool Any() const { return !IconFile.empty() || Elevate || HasVersionInfo(); }
};

// The stub image with the publisher's resources in it (the image returned as it
// is when nothing is asked). InputError, before anything is written, for a broken
// .ico, a version text that is not "1.2.3.4"-style or a stub that cannot take them.
Bytes ApplyPublisher(const Bytes &stub, const PublisherOptions &options);
// The same with the .ico file's contents given (IconFile then only names it).
Bytes ApplyPublisher(const Bytes &stub, const PublisherOptions &options, const Bytes &ico);

struct VersionNumber {
  uint16_t Parts[4] = {0, 0, 0, 0};
  std::string Text() const;  // "1.2.3.4"
};

// One image of the program's icon group, as the group describes it.
struct IconImage {
  uint32_t Width = 0, Height = 0;
  uint16_t BitCount = 0;
  bool Png = false;
  uint32_t Size = 0;
};

// What a finished program carries of the above.
struct PublisherInfo {
  std::vector<IconImage> Icon;                                // the UNZIP group
  bool HasVersion = false;
  VersionNumber FileVersion, ProductVersion;                  // of the fixed part
  std::vector<std::pair<std::string, std::string>> Strings;  // key, value (UTF-8), in stored order
  std::string ExecutionLevel;                                 // from the manifest; empty when none
};
// InputError, naming `what`, when the resources are damaged.
PublisherInfo ReadPublisher(const Bytes &file, const std::string &what);

#endif
