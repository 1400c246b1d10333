// progress.cpp -- "members done of total, bytes" on standard error for long work.
#include "progress.h"

#include <cstdio>

#include "platform.h"

Progress::Progress(const std::string &verb, uint64_t members, uint64_t bytes, bool quiet)
    : verb_(verb), members_(members), bytes_(bytes), enabled_(!quiet && StderrIsTerminal()),
      start_(std::chrono::steady_clock::now()), last_(start_) {}

Progress::~Progress() {
  if (drawn_) std::fprintf(stderr, "\r%*s\r", 72, "");
}

void Progress::Step(uint64_t bytes) {
  ++doneMembers_;
  doneBytes_ += bytes - memberBytes_;
  memberBytes_ = 0;
  Draw();
}

// A big member moves the line on while it is worked through; Step settles its count.
void Progress::Advance(uint64_t bytes) {
  memberBytes_ += bytes;
  doneBytes_ += bytes;
  Draw();
}

void Progress::Count(uint64_t bytes) {
  std::lock_guard<std::mutex> held(lock_);
  doneBytes_ += bytes;
  Draw();
}

void Progress::Done() {
  std::lock_guard<std::mutex> held(lock_);
  ++doneMembers_;
  Draw();
}

void Progress::Draw() {
  if (!enabled_) return;
  auto now = std::chrono::steady_clock::now();
  // Nothing for quick work; then a few redraws a second at most.
  if (now - start_ < std::chrono::seconds(1) || (drawn_ && now - last_ < std::chrono::milliseconds(200))) return;
  last_ = now;
  drawn_ = true;
  std::fprintf(stderr, "\r%s: %llu of %llu members, %.1f of %.1f MB ", verb_.c_str(),
               (unsigned long long)doneMembers_, (unsigned long long)members_, doneBytes_ / 1048576.0,
               bytes_ / 1048576.0);
  std::fflush(stderr);
}
