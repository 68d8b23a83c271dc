// What a thread does before it blocks in one of the engine's waits (a
// contended critical section, an event, a semaphore, an idle pool worker):
// the database layer gives back the thread's idle connection there, so the
// hundreds of threads a DR job keeps waiting do not each hold one.
//
// Platform code that holds a database connection and calls into the engine
// (a completion notice delivered in process) shields that call with a
// CBlockingHookShield: the thread's connection must not move while a frame
// below still points at it.
#pragma once

class CBlockingHook {
 public:
  using Hook = void (*)();
  // Set once, at start-up, by the layer that owns what is given back.
  static void Set(Hook hook);
  // Runs the hook unless a shield is up on this thread.
  static void BeforeBlocking();

 private:
  friend class CBlockingHookShield;
  static thread_local int t_shields;
};

class CBlockingHookShield {
 public:
  CBlockingHookShield() { ++CBlockingHook::t_shields; }
  ~CBlockingHookShield() { --CBlockingHook::t_shields; }
  CBlockingHookShield(const CBlockingHookShield&) = delete;
  CBlockingHookShield& operator=(const CBlockingHookShield&) = delete;
};
