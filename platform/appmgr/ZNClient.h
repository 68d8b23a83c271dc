// A client (machine) of the management server, by name or by id, read from
// the clients the simulated server keeps (CClientStore).
#pragma once

#include <string>

class ZNClient {
 public:
  explicit ZNClient(const char* name);
  explicit ZNClient(int clientId);
  // By name, as a network peer (the two further arguments are the client's
  // lookup flags; none is used here).
  ZNClient(const char* name, int flags, int options);

  // 0 on success (the client exists); the value is written only then.
  int getClientId(int& clientId);
  int getHaldenId(int& haldenId);
  int getClientName(std::string& name);
  // The host name a connection to this client uses: its network host name
  // when the management server knows one, else its name (loopback services
  // of this machine are reached whatever the text says).
  std::string getNetworkHostnameMangled();
  // The folder the client's software is installed in (its "Install
  // Directory" attribute, else kDefaultInstallDirectory); the kind and the
  // last argument are the platform's (4: the base installation) and change
  // nothing here. 0 on success; non-zero for a client that is not known.
  int getInstallDirectory(std::string& directory, int kind, void* reserved);

  static constexpr const char* kDefaultInstallDirectory = "/opt/drclient";

 private:
  bool Load();

  std::string m_name;
  std::string m_hostName;
  int m_id;
  bool m_loaded;
  bool m_found;
};
