// progress.h -- "members done of total, bytes" on standard error for work that
// takes longer than about a second; silent with --quiet or when stderr is no terminal.
#ifndef SFXKIT_SFXMAKE_PROGRESS_H
#define SFXKIT_SFXMAKE_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

class Progress {
 public:
  Progress(const std::string &verb, uint64_t members, uint64_t bytes, bool quiet);
  ~Progress();  // clears the line it drew
  void Step(uint64_t bytes);  // one more member done, of this many bytes
  void Advance(uint64_t bytes);  // this many more bytes of the member at hand done
  // For members worked on side by side: Advance by any worker as it reads,
  // Done once a member is finished, its bytes already counted. Thread-safe.
  void Count(uint64_t bytes);
  void Done();

 private:
  std::string verb_;                                // "building", "testing"
  uint64_t members_, bytes_;                        // totals
  uint64_t doneMembers_ = 0, doneBytes_ = 0;        // so far
  uint64_t memberBytes_ = 0;                        // of doneBytes_, those of the member at hand
  bool enabled_;                                    // terminal and not quiet
  bool drawn_ = false;                              // a line is on the screen
  std::mutex lock_;                                 // Count and Done come from several threads
  void Draw();                                      // redraws, at most a few times a second
  std::chrono::steady_clock::time_point start_, last_;  // when work began, last redraw
};

#endif
