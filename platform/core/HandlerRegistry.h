// The one shape of every routing table of the simulated management server:
// XML requests and task requests by message type, stored procedures by
// request type or by name. A registry maps a key to a handler; the entry
// points look a handler up and call it outside the lock, so a handler may
// itself send requests (and a slow one blocks nobody else's lookups).
//
// Registration is explicit: CSimulators::Install registers the built-in
// handlers once at start-up, and a test may replace one for a while with a
// CScopedHandler. Nothing registers from a static initialiser, which a
// static library may silently drop.
//
// Threads: every member may be called from any thread.
#pragma once

#include <map>
#include <utility>

#include "core/Mutex.h"

template <class Key, class Handler>
class CHandlerRegistry {
 public:
  // Replaces a handler already registered under the key.
  void Register(const Key& key, Handler handler) {
    CMutexLock lock(m_mutex);
    m_handlers[key] = std::move(handler);
  }

  void Unregister(const Key& key) {
    CMutexLock lock(m_mutex);
    m_handlers.erase(key);
  }

  // A copy of the handler, so the caller can run it without the lock.
  bool Find(const Key& key, Handler& out) const {
    CMutexLock lock(m_mutex);
    auto it = m_handlers.find(key);
    if (it == m_handlers.end()) return false;
    out = it->second;
    return true;
  }

  // A copy of every entry, in key order, for callers that ask each handler
  // in turn (and run them without the lock).
  std::map<Key, Handler> All() const {
    CMutexLock lock(m_mutex);
    return m_handlers;
  }

 private:
  mutable CMutex m_mutex;
  std::map<Key, Handler> m_handlers DR_GUARDED_BY(m_mutex);
};

// Replaces one handler for the life of the object and puts back what was
// registered before (or nothing), so a test's replacement cannot leak into
// the next test.
template <class Key, class Handler>
class CScopedHandler {
 public:
  CScopedHandler(CHandlerRegistry<Key, Handler>& registry, Key key, Handler handler)
      : m_registry(registry), m_key(std::move(key)) {
    m_hadPrevious = m_registry.Find(m_key, m_previous);
    m_registry.Register(m_key, std::move(handler));
  }
  ~CScopedHandler() {
    if (m_hadPrevious) {
      m_registry.Register(m_key, std::move(m_previous));
    } else {
      m_registry.Unregister(m_key);
    }
  }
  CScopedHandler(const CScopedHandler&) = delete;
  CScopedHandler& operator=(const CScopedHandler&) = delete;

 private:
  CHandlerRegistry<Key, Handler>& m_registry;
  Key m_key;
  Handler m_previous;
  bool m_hadPrevious = false;
};
