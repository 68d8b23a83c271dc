// A tap on the simulated management server's request entries (XML requests,
// task requests, stored procedures, VM operations, remote commands): when a test turns it on, every request
// text and its reply are kept in arrival order, so a test can compare what
// the system sent with what it sent before a change.
#pragma once

#include <string>
#include <vector>

struct STappedRequest {
  std::string entry;  // "xml", "task", "sp", "vm" (messageType: the VM operation type) or "remote"
  unsigned long messageType = 0;
  std::string request;
  std::string reply;
  int result = 0;
};

class CRequestTap {
 public:
  static void SetEnabled(bool on);
  static bool Enabled();
  static void Record(const char* entry, unsigned long messageType, const std::string& request,
                     const std::string& reply, int result);
  static std::vector<STappedRequest> Taken();
  static void Clear();
};
