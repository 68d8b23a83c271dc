// The failover and sync statuses of a VM replication as the console names
// them; shared by the DR engine's reports and the lab's views.
#pragma once

class CReplicationStatusTexts {
 public:
  // "" for a status without a name.
  static const char* Failover(int status);
  static const char* Sync(int status);
};
