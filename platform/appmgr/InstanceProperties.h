// The properties of an application instance (a database, a virtualization
// instance) as the platform's instance object reads and writes them: named
// attributes, one current value per name, kept by their table's owner
// (CInstancePropStore). An instance is known to the simulated server while it
// has an attribute; putInstance gives a new one its client and name.
//
// Results: 0 on success; 1 for an attribute (or an instance) that is not
// there; -1 when the table cannot be read or written.
#pragma once

#include <string>

// The attribute holding an Oracle instance's home directory.
static const char* const ZN_PROP_ORACLE_HOME = "Oracle Home";
// The attributes every instance of the simulated server has.
static const char* const ZN_PROP_INSTANCE_NAME = "Instance Name";
static const char* const ZN_PROP_INSTANCE_CLIENT_ID = "Client Id";

class InstanceProperties {
 public:
  explicit InstanceProperties(int instanceId);

  int getAttribute(const std::string& name, std::string& value);
  int setAttribute(const std::string& name, const std::string& value);
  // 0 when the instance is known, 1 when not.
  int isKnown();
  // Makes the instance known: its name and client.
  int putInstance(int clientId, const std::string& name);

 private:
  int m_instanceId;
};
