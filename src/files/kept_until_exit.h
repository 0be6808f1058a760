// Large documents that live until the end of a run are left to the process's
// exit instead of being taken apart piece by piece.
#pragma once

#include <memory>

// Keeps `object` alive instead of destroying it: the run ends right after
// it, and the system takes back a process's memory at once, while freeing a
// document of hundreds of thousands of nodes one by one costs a good part of
// the time it took to build. Only an earlier object of the same type handed
// over in the same process (as in the tests, which run many times) is freed
// here, so memory never piles up.
template <class T>
void releaseAtExit(std::unique_ptr<T> object) {
  static auto* kept = new std::unique_ptr<T>();  // never destroyed, so still reachable at exit
  *kept = std::move(object);
}

// A default-made T that goes to releaseAtExit however its scope ends.
template <class T>
class KeptUntilExit {
 public:
  KeptUntilExit() : object_(std::make_unique<T>()) {}
  ~KeptUntilExit() { releaseAtExit(std::move(object_)); }
  KeptUntilExit(const KeptUntilExit&) = delete;
  KeptUntilExit& operator=(const KeptUntilExit&) = delete;

  T& operator*() { return *object_; }

 private:
  std::unique_ptr<T> object_;
};
