// What a session server listens on: a port (0: any free port the kernel
// picks, which is what the DR job uses), flags and a session type.
//
// The flags and the type are kept and published with the service entry for
// whoever looks at it; this server attaches no other meaning to them. A value;
// not shared between threads.
#pragma once

class CSessionPort {
 public:
  CSessionPort(int port = 0, int flags = 0) : m_port(port), m_flags(flags), m_type(0) {}

  void SetType(int type) { m_type = type; }
  int GetType() const { return m_type; }
  int GetPort() const { return m_port; }
  int GetFlags() const { return m_flags; }

 private:
  int m_port;
  int m_flags;
  int m_type;
};
