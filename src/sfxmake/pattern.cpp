// pattern.cpp -- which members --include and --exclude let into the archive.
#include "pattern.h"

#include <algorithm>

bool GlobMatches(const std::string &pattern, const std::string &path) {
  // The positions in `path` that the pattern read so far can end at, moved on
  // one pattern element at a time: linear in each, however many stars.
  size_t n = path.size();
  std::vector<char> at(n + 1, 0), next(n + 1);
  at[0] = 1;
  for (size_t p = 0; p < pattern.size(); p++) {
    std::fill(next.begin(), next.end(), 0);
    char c = pattern[p];
    bool twoStars = c == '*' && p + 1 < pattern.size() && pattern[p + 1] == '*';
    bool wholeParts = twoStars && p + 2 < pattern.size() && pattern[p + 2] == '/';
    if (wholeParts) {
      // "**/": no part at all, or any parts each ended by its '/'.
      for (size_t j = 0; j <= n; j++)
        if (at[j]) {
          next[j] = 1;
          for (size_t k = j; k < n; k++)
            if (path[k] == '/') next[k + 1] = 1;
        }
      p += 2;
    } else if (c == '*') {
      // Any run of characters; one star stays within its part.
      for (size_t j = 0; j <= n; j++)
        if (at[j])
          for (size_t k = j; !next[k]; k++) {
            next[k] = 1;
            if (k == n || (!twoStars && path[k] == '/')) break;
          }
      if (twoStars) p++;
    } else {
      for (size_t j = 0; j < n; j++)
        if (at[j] && (c == '?' ? path[j] != '/' : path[j] == c)) next[j + 1] = 1;
    }
    at.swap(next);
  }
  return at[n] != 0;
}

namespace {
// Whether `pattern` (as MemberFilter takes it) matches `path`, or a folder above it.
bool MatchesOrAbove(const std::string &pattern, const std::string &path, bool folder) {
  std::string body = pattern;
  bool foldersOnly = !body.empty() && body.back() == '/';
  if (foldersOnly) body.pop_back();
  if (body.find('/') == std::string::npos) body = "**/" + body;  // in every folder
  else if (body[0] == '/') body.erase(0, 1);
  for (size_t end = 0;; end++) {
    end = path.find('/', end);
    bool whole = end == std::string::npos;
    if ((!whole || folder || !foldersOnly) && GlobMatches(body, path.substr(0, end))) return true;
    if (whole) return false;
  }
}

bool AnyMatches(const std::vector<std::string> &patterns, const std::string &path, bool folder) {
  for (const std::string &p : patterns)
    if (MatchesOrAbove(p, path, folder)) return true;
  return false;
}
}  // namespace

bool MemberFilter::Keeps(const std::string &path, bool folder) const {
  if (AnyMatches(excludes_, path, folder)) return false;
  return includes_.empty() || AnyMatches(includes_, path, folder);
}

bool MemberFilter::ExcludesAllBelow(const std::string &path) const { return AnyMatches(excludes_, path, true); }
