#include "front/workers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <thread>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// Counts items that have run, and waits, with a time limit, until a number of them have: a lost
// item then fails the test instead of hanging it in Group::wait().
class Tally {
 public:
  void add() {
    std::lock_guard<std::mutex> hold(lock);
    ++done;
    changed.notify_all();
  }
  bool reaches(int n) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, 30s, [&] { return done >= n; });
  }

 private:
  std::mutex lock;
  std::condition_variable changed;
  int done = 0;
};

}  // namespace

// Pools are never destroyed, as their idle workers may outlive any scope; a test's own pool is
// therefore static.
TEST(Workers, AnIdleWorkerTakesTheNextItemEvenAfterOneThrew) {
  static vesk::Workers& queue = *new vesk::Workers;
  vesk::Group group;
  std::set<std::thread::id> ran;  // written by one item at a time: each is waited for
  for (int i = 0; i < 50; ++i) {
    if (i % 2 == 1) {
      // What gets past a call (memory running out) must end neither the worker nor the process.
      queue.submit(group, [] { throw std::bad_alloc(); });
    } else {
      queue.submit(group, [&ran] { ran.insert(std::this_thread::get_id()); });
    }
    group.wait();
  }
  ASSERT_EQ(ran.size(), 1u) << "one call after another needs one worker, kept";
  EXPECT_NE(*ran.begin(), std::this_thread::get_id());
}

TEST(Workers, ABurstWhileWorkersRetireLosesNothing) {
  // Workers that end after a millisecond, and bursts that come about as often: many of them
  // arrive just as a worker's wait runs out, where an item handed to a worker that is leaving
  // would be lost.
  static vesk::Workers& queue = *new vesk::Workers(std::chrono::milliseconds(1));
  vesk::Group group;
  Tally tally;
  std::minstd_rand random(12);
  int submitted = 0;
  for (int round = 0; round < 300; ++round) {
    int burst = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < burst; ++i) queue.submit(group, [&tally] { tally.add(); });
    submitted += burst;
    ASSERT_TRUE(tally.reaches(submitted)) << "an item was lost in round " << round;
    // No gate can say when a worker is about to end: only time does.
    std::this_thread::sleep_for(std::chrono::microseconds(500 + random() % 1000));
  }
  group.wait();
}

TEST(Workers, ItemsHandedToIdleWorkersWakeThemAndStartNoThread) {
  // Workers that wait an hour for work: an item handed to an idle worker that is never woken
  // would wait that long, and the tally gives up first. Each burst finds every worker idle, so
  // it runs on the workers the largest burst so far has started, and on no new thread.
  static vesk::Workers& queue = *new vesk::Workers(std::chrono::hours(1));
  vesk::Group group;
  Tally tally;
  std::mutex seenLock;
  std::set<std::thread::id> seen;  // the threads the items ran on, guarded by seenLock
  std::minstd_rand random(7);
  int submitted = 0;
  std::size_t largest = 0;
  for (int round = 0; round < 300; ++round) {
    int burst = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < burst; ++i) {
      queue.submit(group, [&] {
        {
          std::lock_guard<std::mutex> hold(seenLock);
          seen.insert(std::this_thread::get_id());
        }
        tally.add();
      });
    }
    submitted += burst;
    largest = std::max(largest, static_cast<std::size_t>(burst));
    ASSERT_TRUE(tally.reaches(submitted)) << "an item was left waiting in round " << round;
    group.wait();  // every worker idle again
    std::lock_guard<std::mutex> hold(seenLock);
    ASSERT_LE(seen.size(), largest)
        << "a thread was started beside an idle worker in round " << round;
  }
}
