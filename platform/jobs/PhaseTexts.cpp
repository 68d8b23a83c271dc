#include "jobs/PhaseTexts.h"

namespace {

struct SText {
  int phase;
  const char* text;
};

const SText kPhaseTexts[] = {
    {0, "Script Execution"},
    {1, "Power On"},
    {2, "Power Off"},
    {7, "Replication"},
    {8, "Backup"},
    {15, "Disable Sync"},
    {16, "Enable Sync"},
    {17, "Create Snapshot"},
    {18, "Delete Snapshot"},
    {19, "Revert Snapshot"},
    {20, "Disable Network Adapters"},
    {21, "Aux Copy"},
    {23, "Backup Copy"},
    {24, "Shutdown"},
    {25, "Storage Operation"},
    {28, "Delete Operation"},
    {29, "Create Virtual Machine"},
    {30, "Get VM Info VM"},
    {31, "Create DR Virtual Machine"},
    {32, "Post VM Failover"},
    {34, "DR-VM Snap Mount"},
    {35, "Break Volume Relationship"},
    {36, "Re-sync Volume Relationship"},
    {37, "DR-VM Snap Unmount"},
    {38, "DR-VM Test Snap Mount"},
    {39, "DR-VM Test Snap Unmount"},
    {40, "Delete DR Virtual Machine"},
    {41, "Post VM Failover"},
    {42, "Clone VM"},
    {43, "Refresh VM"},
};

}  // namespace

const char* CPhaseTexts::Phase(int phase) {
  for (const SText& t : kPhaseTexts) {
    if (t.phase == phase) return t.text;
  }
  return "DR Operation";
}
