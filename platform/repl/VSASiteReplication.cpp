#include "repl/VSASiteReplication.h"

#include "repl/ReplicationStore.h"

VSASiteReplication::VSASiteReplication() : AdaptersBase() {}

VSASiteReplication::~VSASiteReplication() {}

int VSASiteReplication::setSiteReplication(App::VSAReplicationInfo* info, std::string& error, void*) {
  if (info == nullptr) {
    error = "No replication given";
    m_lastError = error;
    return -1;
  }
  int rc = CReplicationStore::Merge(*info, error);
  if (rc != 0) m_lastError = error;
  return rc;
}
