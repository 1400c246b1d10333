// pattern.h -- which members --include and --exclude let into the archive: one
// matcher for member paths, used alike for folder and ZIP inputs.
#ifndef SFXKIT_SFXMAKE_PATTERN_H
#define SFXKIT_SFXMAKE_PATTERN_H

#include <string>
#include <vector>

// Whether `pattern` matches the whole of `path` (parts separated by '/'):
// `*` stands for any characters within a part, `**` for any characters across
// parts (`**/` also for no part at all: `**/a` matches `a`), `?` for one
// character other than '/'; everything else stands for itself, case included.
bool GlobMatches(const std::string &pattern, const std::string &path);

// The patterns of --include and --exclude, and what they let in. A pattern
// ending in '/' names folders only; one without another '/' is looked for in
// every folder (`*.pdb`, `.git/`), one with a '/' (a leading one too, which is
// dropped) counts from the input's top (`docs/*.md`, `/build.log`). A pattern
// that names a folder takes in everything below it.
class MemberFilter {
 public:
  void Include(const std::string &pattern) { includes_.push_back(pattern); }
  void Exclude(const std::string &pattern) { excludes_.push_back(pattern); }
  bool Active() const { return !includes_.empty() || !excludes_.empty(); }

  // Whether the member `path` ('/' separators, no trailing '/') goes in:
  // no exclude pattern matches it or a folder above it, and, when there are
  // include patterns, one matches it or a folder above it. Exclude wins.
  bool Keeps(const std::string &path, bool folder) const;
  // Whether everything below the folder `path` stays out (an exclude matches
  // it or a folder above it): a walk need not look inside.
  bool ExcludesAllBelow(const std::string &path) const;

 private:
  std::vector<std::string> includes_, excludes_;
};

#endif
