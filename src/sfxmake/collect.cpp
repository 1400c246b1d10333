// collect.cpp -- which files of a folder input go into the archive: the walk,
// what it does with links, and what --include and --exclude leave out.
#include "collect.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "errors.h"
#include "platform.h"
#include "utf8.h"

namespace fs = std::filesystem;

namespace {

// Why Windows cannot create a file of this relative name ('/' between its
// parts), or null when it can: a backslash would be read there as a separator,
// and the other characters, a part ending in a dot or a space, are refused or
// changed by Windows, so the program would unpack another name or fail.
const char *UncreatableOnWindows(const std::string &name) {
  for (size_t at = 0; at <= name.size(); at++) {
    char ch = at < name.size() ? name[at] : '/';
    if ((uint8_t)ch < 0x20 || ch == 0x7F) return "a control character";
    if (std::strchr("<>:\"|?*\\", ch)) return "one of < > : \" | ? * \\";
    if (ch == '/' && at && (name[at - 1] == '.' || name[at - 1] == ' ')) return "a part ending in a dot or a space";
  }
  return nullptr;
}

// One walk through a folder input.
class Walk {
 public:
  Walk(const std::string &folder, const CollectOptions &o) : folder_(folder), o_(o) {}

  FolderListing Run() {
    ResolvedPath root;
    if (!ResolvePath(folder_, &root) || root.Kind != EntryKind::Folder)
      throw InputError(folder_ + " is neither a ZIP archive nor a folder");
    root_ = root.Path;
    Enter(folder_, "", root);
    if (!refused_.empty())
      throw InputError("--links refuse: " + folder_ + " holds links; nothing is built:" + refused_);
    if (!uncreatable_.empty())
      throw InputError("Windows cannot create these names, which the program would unpack:" + uncreatable_);
    if (listing_.Files.empty())
      throw InputError(folder_ + " holds no files" + (o_.Filter.Active() ? " that --include and --exclude let in" : ""));
    std::sort(listing_.Files.begin(), listing_.Files.end(),
              [](const SourceFile &a, const SourceFile &b) { return a.Name < b.Name; });
    return std::move(listing_);
  }

 private:
  // Takes in what the folder at `path`, named `prefix` in the archive, holds.
  void Enter(const std::string &path, const std::string &prefix, const ResolvedPath &self) {
    within_.push_back(self);
    std::error_code ec;
    for (fs::directory_iterator it(PathFromUtf8(path), ec), end; !ec && it != end; it.increment(ec)) {
      std::string full = PathToUtf8(it->path());
      std::string name = prefix + PathToUtf8(it->path().filename());
      // A link is asked where it leads, a folder who it is (for the links met below it);
      // a plain name that cannot be asked stays what it is.
      ResolvedPath target;
      EntryKind own = PathKind(full);
      bool resolved = (own == EntryKind::Link || own == EntryKind::Folder) && ResolvePath(full, &target);
      EntryKind kind = own != EntryKind::Link ? own : resolved ? target.Kind : EntryKind::Missing;
      // Left out by the patterns: not looked at further, links neither.
      if (kind == EntryKind::Folder ? o_.Filter.ExcludesAllBelow(name) : !o_.Filter.Keeps(name, false)) continue;
      if (own == EntryKind::Link && !FollowLink(full, name, target, kind)) continue;
      if (kind == EntryKind::Folder) Enter(full, name + "/", target);
      if (kind == EntryKind::File) AddFile(it->path(), full, name);
    }
    if (ec) throw InputError("cannot read the folder " + path + ": " + ec.message());
    within_.pop_back();
  }

  // Whether the link at `full` is followed to `target` (of `kind`); says what was done.
  bool FollowLink(const std::string &full, const std::string &name, const ResolvedPath &target, EntryKind kind) {
    std::string shown = Escape(name, Escaping::Plain) + " -> " + Escape(LinkText(full), Escaping::Plain);
    const char *why = nullptr;
    if (o_.Links == LinkPolicy::Refuse) {
      refused_ += "\n  " + shown;
      return false;
    }
    if (o_.Links == LinkPolicy::Skip) why = " (--links skip)";
    else if (kind == EntryKind::Missing) why = ": it leads nowhere";
    else if (kind == EntryKind::Other) why = ": it leads to neither a file nor a folder";
    else if (kind == EntryKind::Folder && std::any_of(within_.begin(), within_.end(), [&](const ResolvedPath &f) {
               return f.Volume == target.Volume && f.Index == target.Index;
             }))
      why = ": it leads back into a folder it lies in";
    if (why) {
      listing_.Warnings.push_back("skipped link " + shown + why);
      return false;
    }
    fs::path inside = PathFromUtf8(target.Path).lexically_relative(PathFromUtf8(root_));
    bool outside = inside.empty() || *inside.begin() == "..";
    listing_.Warnings.push_back("followed link " + shown +
                                (outside ? ", which lies outside " + Escape(folder_, Escaping::Plain) : ""));
    return true;
  }

  void AddFile(const fs::path &path, const std::string &full, const std::string &name) {
    std::error_code ec, ignored;
    if (fs::equivalent(path, PathFromUtf8(o_.Skip), ignored)) return;
    if (const char *why = UncreatableOnWindows(name)) uncreatable_ += "\n  " + Escape(name, Escaping::Plain) + ": " + why;
    listing_.Files.push_back({full, name, (uint64_t)fs::file_size(path, ec)});
  }

  const std::string &folder_;
  const CollectOptions &o_;
  std::string root_;                  // the folder's own full path, links resolved
  std::vector<ResolvedPath> within_;  // the folders the walk is in, outermost first
  FolderListing listing_;
  std::string refused_, uncreatable_;  // lines of the messages that refuse the input
};

}  // namespace

LinkPolicy ParseLinkPolicy(const std::string &text) {
  if (text == "follow") return LinkPolicy::Follow;
  if (text == "skip") return LinkPolicy::Skip;
  if (text == "refuse") return LinkPolicy::Refuse;
  throw InputError("--links takes follow, skip or refuse, not '" + text + "'");
}

FolderListing CollectFiles(const std::string &folder, const CollectOptions &options) {
  return Walk(folder, options).Run();
}
