// The failover, sync and test-failover statuses of a replication (VM,
// database or storage-array) as the console names them; shared by the DR
// engine's reports and the lab's views.
#pragma once

class CReplicationStatusTexts {
 public:
  // "" for a status without a name.
  static const char* Failover(int status);
  static const char* Sync(int status);
  static const char* TestFailover(int status);
};
