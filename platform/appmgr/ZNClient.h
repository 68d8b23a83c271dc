// A client (machine) of the management server, by name or by id, read from
// the clients the simulated server keeps (CClientStore).
#pragma once

#include <string>

class ZNClient {
 public:
  explicit ZNClient(const char* name);
  explicit ZNClient(int clientId);

  // 0 on success (the client exists); the value is written only then.
  int getClientId(int& clientId);
  int getHaldenId(int& haldenId);
  int getClientName(std::string& name);

 private:
  bool Load();

  std::string m_name;
  int m_id;
  bool m_loaded;
  bool m_found;
};
