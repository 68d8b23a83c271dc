// Initialises the XML parser library once per process, from whichever thread
// gets there first; later calls only report the outcome. The library is
// never terminated: parsers cached by threads may outlive any owner.
#pragma once

#include <string>

class CXercesInit {
 public:
  // True when the library is ready; otherwise false with the reason.
  static bool Ensure(std::string* error = nullptr);
};
