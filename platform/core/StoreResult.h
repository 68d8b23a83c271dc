// The answer of a simulated store's read or write of one record. A missing
// record and a failed database call are different answers: a caller that
// took "could not read" for "not there" would create what exists, and one
// that took "not written" for "no such record" would report a lost write as
// a refusal.
#pragma once

#include <ostream>

enum class EStoreResult {
  kOk = 0,       // read or written
  kMissing = 1,  // no such record; nothing was changed
  kFailed = 2,   // the database call failed; the reason is logged
};

inline const char* StoreResultText(EStoreResult r) {
  switch (r) {
    case EStoreResult::kOk: return "ok";
    case EStoreResult::kMissing: return "missing";
    case EStoreResult::kFailed: return "failed";
  }
  return "?";
}

// Readable test failures.
inline std::ostream& operator<<(std::ostream& out, EStoreResult r) { return out << StoreResultText(r); }
