// One platform thread running a C-style entry function.
//
// The object may be dropped while the thread runs (the thread then runs on,
// detached); it can also be joined, or asked to stop, which its blocking
// platform calls notice.
#pragma once

#include <memory>
#include <thread>

class CStopState;

class ZnThread {
 public:
  typedef void* (*EntryFunc)(void*);

  ZnThread();
  ~ZnThread();
  ZnThread(const ZnThread&) = delete;
  ZnThread& operator=(const ZnThread&) = delete;

  // Starts the thread; false when it is already started or cannot be made.
  bool createThread(EntryFunc entry, void* arg);
  // Asks the thread to stop at its next blocking platform call.
  void requestStop();
  // Waits for the thread to return (from any thread but itself).
  bool join();
  bool isRunning() const;

 private:
  struct SShared;
  std::shared_ptr<SShared> m_shared;
  std::thread m_thread;
};
