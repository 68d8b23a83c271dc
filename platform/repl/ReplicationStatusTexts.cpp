#include "repl/ReplicationStatusTexts.h"

namespace {

struct SText {
  int status;
  const char* text;
};

const SText kSyncTexts[] = {
    {1, "In Sync"},           {2, "Need Sync"},     {3, "Sync in Progress"},
    {4, "Sync Paused"},       {5, "Sync Failed"},   {6, "Sync Disabled"},
    {7, "Sync Enabled"},      {8, "Validation Failed"}, {10, "Revert Failed"},
    {11, "Sync Starting"},
};

const SText kFailoverTexts[] = {
    {1, "Failover Complete"},
    {2, "Failover in Progress"},
    {4, "Failover Failed"},
    {5, "Failback Complete"},
    {6, "Failback in Progress"},
    {8, "Failback Failed"},
    {13, "Revert Failover Complete"},
    {14, "Revert Failover in Progress"},
    {15, "Revert Failover Failed"},
};

const SText kTestFailoverTexts[] = {
    {1, "Test Failover Complete"},
    {2, "Test Failover in Progress"},
    {3, "Test Failover Failed"},
    {4, "Undo-Test Failover in Progress"},
    {5, "Undo-Test Failover Failed"},
};

template <unsigned long N>
const char* Find(const SText (&table)[N], int status) {
  for (const SText& t : table) {
    if (t.status == status) return t.text;
  }
  return "";
}

}  // namespace

const char* CReplicationStatusTexts::Failover(int status) { return Find(kFailoverTexts, status); }

const char* CReplicationStatusTexts::Sync(int status) { return Find(kSyncTexts, status); }

const char* CReplicationStatusTexts::TestFailover(int status) { return Find(kTestFailoverTexts, status); }
