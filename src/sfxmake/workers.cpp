// workers.cpp -- a pool of threads whose results are taken in order.
#include "workers.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "platform.h"

unsigned WorkerCount(unsigned requested, size_t items, uint64_t memoryEach) {
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  uint64_t count = requested ? requested : cores;
  if (memoryEach) count = std::min<uint64_t>(count, PhysicalMemory() / 2 / memoryEach);
  count = std::min<uint64_t>(count, items);
  return (unsigned)std::max<uint64_t>(1, count);
}

void RunInOrder(size_t count, unsigned workers, size_t ahead, const std::function<void(size_t)> &work,
                const std::function<void(size_t)> &take) {
  if (workers <= 1) {
    for (size_t i = 0; i < count; ++i) work(i), take(i);
    return;
  }
  std::mutex lock;
  std::condition_variable changed;
  size_t next = 0;    // the next item a worker starts
  size_t taken = 0;   // the next item take() gets
  bool stop = false;  // take() failed: no more work starts
  std::vector<char> done(count, 0);
  std::vector<std::exception_ptr> failures(count);
  auto worker = [&] {
    std::unique_lock<std::mutex> held(lock);
    for (;;) {
      changed.wait(held, [&] { return stop || next >= count || next < taken + ahead; });
      if (stop || next >= count) return;
      size_t i = next++;
      held.unlock();
      try {
        work(i);
      } catch (...) {
        failures[i] = std::current_exception();
      }
      held.lock();
      done[i] = 1;
      changed.notify_all();
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < workers; ++t) threads.emplace_back(worker);
  auto finish = [&] {
    {
      std::lock_guard<std::mutex> held(lock);
      stop = true;
    }
    changed.notify_all();
    for (std::thread &t : threads) t.join();
  };
  try {
    for (size_t i = 0; i < count; ++i) {
      {
        std::unique_lock<std::mutex> held(lock);
        changed.wait(held, [&] { return done[i] != 0; });
      }
      if (failures[i]) std::rethrow_exception(failures[i]);
      take(i);
      {
        std::lock_guard<std::mutex> held(lock);
        taken = i + 1;
      }
      changed.notify_all();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}
