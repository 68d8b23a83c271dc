// Facts about the management server ("Dromhall") as a platform client sees
// them.
#pragma once

class ZNPI_PlatformBase {
 public:
  virtual ~ZNPI_PlatformBase() = default;
  // Writes the management server's host name (at most size - 1 characters
  // and a terminator); 0 on success. As ZNPlatformInfo tells it: the lab's
  // knob "dromhall.host" when set (an empty value fails), else this machine.
  virtual int getDromhallHostName(char* buffer, int size);
};

// The platform client a component makes to reach the management server.
class ZNPI_CommClient : public ZNPI_PlatformBase {};
