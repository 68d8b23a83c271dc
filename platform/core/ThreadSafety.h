// Lock rules the compiler checks: clang's thread-safety analysis
// (-Wthread-safety). Every macro is empty for other compilers, so the
// attributes cost nothing there.
//
// A lock type is a capability; a scoped lock is a scoped capability. Data
// says which lock guards it, functions say which locks they need, take or
// give back:
//
//   class CStore {
//     CMutex m_mutex;
//     std::map<int, int> m_rows DR_GUARDED_BY(m_mutex);
//     void AddLocked(int k) DR_REQUIRES(m_mutex);
//   };
//
// Re-entrant locks (ZnCriticalSection, FXCriticalSection, ZnNamedMutex) are
// capabilities like any other: the analysis follows one function at a time,
// so a function that takes a lock its caller already holds is fine; taking
// the same lock twice inside one function is not. DR_REENTRANT_CAPABILITY
// marks them, and lifts even that once the compiler knows the attribute.
//
// DR_NO_THREAD_SAFETY_ANALYSIS turns the check off for one function. Use it
// only with a comment that says why the rule does not hold there (the lock
// primitives themselves, a lock taken in one function and given back in
// another, data read without a lock by design).
#pragma once

#if defined(__clang__)
#define DR_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define DR_THREAD_ANNOTATION(x)
#endif

// ---- lock types ----
// A type whose objects are locks; the name shows in diagnostics ("mutex").
#define DR_CAPABILITY(name) DR_THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock for their lifetime (RAII).
#define DR_SCOPED_CAPABILITY DR_THREAD_ANNOTATION(scoped_lockable)
#if defined(__clang__) && defined(__has_attribute)
#if __has_attribute(reentrant_capability)
#define DR_REENTRANT_CAPABILITY DR_THREAD_ANNOTATION(reentrant_capability)
#endif
#endif
#ifndef DR_REENTRANT_CAPABILITY
#define DR_REENTRANT_CAPABILITY
#endif

// ---- data ----
// The member or global may be read or written only while the lock is held.
#define DR_GUARDED_BY(x) DR_THREAD_ANNOTATION(guarded_by(x))
// What the pointer points to may be touched only while the lock is held (the
// pointer itself is not guarded).
#define DR_PT_GUARDED_BY(x) DR_THREAD_ANNOTATION(pt_guarded_by(x))
// Lock order: this lock is always taken before / after the named ones
// (checked with -Wthread-safety-beta).
#define DR_ACQUIRED_BEFORE(...) DR_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define DR_ACQUIRED_AFTER(...) DR_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))

// ---- functions ----
// The caller must hold the locks (exclusively / at least shared).
#define DR_REQUIRES(...) DR_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define DR_REQUIRES_SHARED(...) DR_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
// The function takes / gives back the locks (without arguments: the object
// itself, for member functions of a lock type).
#define DR_ACQUIRE(...) DR_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define DR_ACQUIRE_SHARED(...) DR_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define DR_RELEASE(...) DR_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define DR_RELEASE_SHARED(...) DR_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
// The function takes the locks when it returns the given value (true).
#define DR_TRY_ACQUIRE(...) DR_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// The caller must not hold the locks (the function takes them itself and the
// lock is not re-entrant).
#define DR_EXCLUDES(...) DR_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A run-time check that the lock is held; afterwards the analysis assumes it.
#define DR_ASSERT_CAPABILITY(x) DR_THREAD_ANNOTATION(assert_capability(x))
// The function returns (a reference to) the lock.
#define DR_RETURN_CAPABILITY(x) DR_THREAD_ANNOTATION(lock_returned(x))
// No checking inside this function; say why next to it.
#define DR_NO_THREAD_SAFETY_ANALYSIS DR_THREAD_ANNOTATION(no_thread_safety_analysis)
