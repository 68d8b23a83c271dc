// The properties of a client (machine) as the management server keeps them:
// named attributes in APP_ClientProp, one current row per name (modified 0;
// a replaced value keeps its old row marked modified). ClientProperties is
// the one owner of that table on the simulated server.
//
// Results: 0 on success; non-zero when the value cannot be read or written
// (a missing attribute is such a failure for the getters).
#pragma once

#include <string>

#include "msg/MsgClasses.h"

// The attribute of a VM client that holds its hypervisor instance UUID.
static const char* const ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID = "Virtual Server Instance UUID";
// The attribute holding a client's time zone id.
static const char* const ZN_PROP_CLIENT_TIME_ZONE_ID = "Client Time Zone Id";
// The attribute holding a VM client's last backup job (App::LastBackupJobInfo XML).
static const char* const ZN_PROP_LAST_VM_BACKUP_JOB_INFO = "Last VM Backup Job Info";
// The attribute holding the folder a client's software is installed in.
static const char* const ZN_PROP_INSTALL_DIRECTORY = "Install Directory";
// The attribute holding a VM client's cloud project id (vendor 16).
static const char* const ZN_PROP_VSA_PROJECT_ID = "Virtual Server Project Id";
// The attribute of a DR VM's clone naming the client of the source VM it
// stands for.
static const char* const ZN_PROP_SOURCE_VM_CLIENT_ID = "Source VM Client Id";
// The attributes of a test DR machine (a clone a test failover boots): the
// time (epoch seconds, 0 none) it is kept until, whether it is one, and the
// user whose job made it.
static const char* const ZN_PROP_VM_RESERVE_UNTIL = "VM Reserve Until";
static const char* const ZN_PROP_IS_TEST_DR_MACHINE = "Is Test DR Machine";
static const char* const ZN_PROP_VM_CREATED_BY = "VM Created By";
// The user a VM client is associated with as its owner.
static const char* const ZN_PROP_VM_OWNER_USER_ID = "VM Owner User Id";

class ClientProperties {
 public:
  static constexpr const char* kTable = "APP_ClientProp";

  explicit ClientProperties(int clientId);

  int getClientTimeZoneId(unsigned int& timeZoneId);
  int setClientTimeZoneId(unsigned int timeZoneId);
  int setVMInstanceUUID(const std::string& uuid);
  int getVMInstanceUUID(std::string& uuid);

  // The VM client's last backup job ("Last VM Backup Job Info"), as the
  // backups of the simulated server leave it; getLastVMBackupJobInfo fails
  // (non-zero) when there is none or it does not read.
  int setLastVMBackupJobInfo(const App::LastBackupJobInfo& info);
  int getLastVMBackupJobInfo(App::LastBackupJobInfo& info);

  // The VM client's cloud project id ("Virtual Server Project Id"); fails
  // (non-zero) when the client has none.
  int getVSAProjectId(std::string& projectId);
  int setVSAProjectId(const std::string& projectId);

  // A test DR machine's attributes (above); the flag is kept as 1 or 0.
  int setVMReserveUntil(int epochSeconds);
  int setSourceVMClient(int sourceClientId);
  int setIsTestDRMachine(bool isTestMachine);
  int setVMCreatedBy(int userId);

  // Any attribute (the lab and later stand-ins).
  int getAttribute(const std::string& name, std::string& value);
  int setAttribute(const std::string& name, const std::string& value);

  // Tells the database how its tables look (CSimulators::Install): the
  // one description a table of the simulated server is created from.
  static void DescribeTables();
  // Creates the table on the calling thread's database.
  static bool CreateTables();

 private:
  int m_clientId;
};
