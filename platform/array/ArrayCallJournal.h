// What the array lab was asked, in order: every storage-array library call
// that reaches an array or its management entry, and every management
// procedure of the storage-array replications, with the scaled time, the
// control host (0 for the management server), the call, its arguments and
// what it answered. The one owner of PLT_ArrayCalls.
//
// Threads and processes: every member may be called from any thread; each
// record is one insert, so concurrent callers lose none.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"

// What the lab answers a call.
enum class EArrayAnswer {
  kOk,            // done (or nothing to do)
  kNotFound,      // no such array, relationship, LUN or entry
  kFault,         // a fault the test planted
  kRefused,       // the object is in a state the call cannot change
  kNotConnected,  // the array object was never connected, or the array is down
  kFailed,        // the lab's database could not be read or written (logged)
};

const char* ArrayAnswerText(EArrayAnswer answer);

struct SArrayCall {
  long long seq = 0;
  long long atMs = 0;  // scaled wall-clock milliseconds
  int controlHostId = 0;
  std::string call;
  std::string arguments;
  std::string result;
};

class CArrayCallJournal {
 public:
  static constexpr const char* kTable = "PLT_ArrayCalls";

  // False (logged) when it cannot be stored; the call's answer stands.
  static bool Record(int controlHostId, const std::string& call, const std::string& arguments,
                     const std::string& result);
  static EStoreResult All(std::vector<SArrayCall>& out);
  // The calls of one control host, in order.
  static EStoreResult OfHost(int controlHostId, std::vector<SArrayCall>& out);
  static bool Clear();
  static bool CreateTables();
};
