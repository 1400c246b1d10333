// collect.h -- which files of a folder input go into the archive: the walk,
// what it does with links, and what --include and --exclude leave out.
#ifndef SFXKIT_SFXMAKE_COLLECT_H
#define SFXKIT_SFXMAKE_COLLECT_H

#include <string>
#include <vector>

#include "pattern.h"
#include "zipwriter.h"

// --links: what a walk does with a link it meets (on Windows a symbolic link or a junction).
enum class LinkPolicy {
  Follow,  // take what it leads to, a file or a folder; a dangling link, a link to anything else or one that
           // leads back into a folder the walk is in is skipped
  Skip,    // leave it out
  Refuse,  // refuse the input
};
// "follow", "skip" or "refuse"; InputError for anything else.
LinkPolicy ParseLinkPolicy(const std::string &text);

struct CollectOptions {
  std::string Skip;                    // the program being built: left out should it lie in the folder
  MemberFilter Filter;                 // --include and --exclude
  LinkPolicy Links = LinkPolicy::Follow;
};

// What a walk found, and what it did with the links on the way.
struct FolderListing {
  std::vector<SourceFile> Files;      // in byte order of their names
  std::vector<std::string> Warnings;  // one line for each link followed or skipped, names escaped
};

// The files below `folder` that the options let in. A link is warned about
// whatever is done with it, and one that leads outside `folder` says so even
// when followed. Folders that an exclude pattern covers are not entered.
// InputError for a folder without such files, names that Windows cannot create
// (every one listed) and, with LinkPolicy::Refuse, any link (every one listed).
FolderListing CollectFiles(const std::string &folder, const CollectOptions &options);

#endif
