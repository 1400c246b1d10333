// workers.h -- work on several cores with the results taken in order: how many
// workers the machine affords, and the pool that runs them.
#ifndef SFXKIT_SFXMAKE_WORKERS_H
#define SFXKIT_SFXMAKE_WORKERS_H

#include <cstddef>
#include <cstdint>
#include <functional>

// How many workers to run: `requested` when it is not 0, else one per core;
// never more than `items`, nor more than half the machine's memory holds at
// `memoryEach` bytes a worker; at least 1.
unsigned WorkerCount(unsigned requested, size_t items, uint64_t memoryEach);

// Runs work(i) for every i below `count` on `workers` threads, taken in the
// order of i, and take(i) on the calling thread for i = 0, 1, ... each once
// work(i) has finished; no work(i) starts more than `ahead` items beyond the
// one taken next, which bounds what finished work holds. An exception thrown
// by work(i) is thrown again by the pool when item i is to be taken, as one
// worker would have thrown it; one thrown by take stops the pool too. With one
// worker everything runs on the calling thread, work(i) right before take(i).
void RunInOrder(size_t count, unsigned workers, size_t ahead, const std::function<void(size_t)> &work,
                const std::function<void(size_t)> &take);

#endif
