#include "host/TypeMatrixCells.h"

#include <sstream>

namespace typecells {

namespace {

// Edit here: one row per cell, with the rules it breaks (writes, succeeded,
// refused, planted, nowhere, told, records) and the machine it breaks them
// on (0: any).
const std::vector<SCell> kCells = {
    // group, type run, after, rules, machine, on purpose, why
    {"Sample", "revert-failover", "reverse-replication", "planted", 0, true,
     "the reverse replication's restore removed the sources' snapshots: nothing to revert to "
     "(E2EDrJobTypeSequence.ARevertAfterAReverseReplicationFailsEveryMachineAndSaysSo)"},

    // Faults, each until its mend lands.
    // A reverse replication refuses machines never failed over, then prints
    // the restart that takes them (and overwrites their running sources).
    {"Sample", "reverse-replication", "fresh", "refused", 0, false, "a restart printed for refused machines"},
    {"Sample", "reverse-replication", "failback", "refused", 0, false, "a restart printed for refused machines"},
    {"Sample", "reverse-replication", "testboot", "refused", 0, false, "a restart printed for refused machines"},
    {"Sample", "reverse-replication", "revert-failover", "refused", 0, false, "a restart printed for refused machines"},
    {"Sample", "reverse-replication", "undo-failover", "refused", 0, false, "a restart printed for refused machines"},
    // A failover after a revert fails for the DR VM's missing __OB_BACKUP__.
    {"Sample", "unplanned-failover", "revert-failover", "planted", 0, false, "deleting a snapshot not there fails"},
    {"Sample", "point-in-time-failover", "revert-failover", "planted", 0, false, "deleting a snapshot not there fails"},
    // An undo after a reverse replication reverts to a snapshot gone.
    {"Sample", "undo-failover", "reverse-replication", "planted", 0, false, "reverts to a source snapshot gone"},
    // A storage-array failover over a standing test failover.
    {"SampleArray", "planned-failover", "test-failover", "planted", 0, false, "fails at the mount: the name is taken"},
    {"SampleArray", "unplanned-failover", "test-failover", "succeeded", 0, false,
     "takes the test VM for its DR VM; the test failover outlives it"},
    // A point-in-time failover on DR VMs that list no point-in-time snapshot.
    {"Sample", "point-in-time-failover", "failback", "planted", 0, false, "takes machines it cannot fail over"},
    // The clean-up deletes the running DR VMs and says nothing of it.
    {"Sample", "cleanup-destination-vm --delete-from-hypervisor", "planned-failover", "nowhere", 0, false,
     "no line for a workload left running nowhere"},
    {"Sample", "cleanup-destination-vm --delete-from-hypervisor", "unplanned-failover", "nowhere", 0, false,
     "no line for a workload left running nowhere"},
    {"Sample", "cleanup-destination-vm --delete-from-hypervisor", "point-in-time-failover", "nowhere", 0, false,
     "no line for a workload left running nowhere"},
};

}  // namespace

bool SCell::Breaks(const std::string& rule) const {
  std::istringstream in(rules);
  for (std::string r; in >> r;) {
    if (r == rule) return true;
  }
  return false;
}

const std::vector<SCell>& Cells() { return kCells; }

std::vector<const SCell*> CellsOf(const std::string& group, const std::string& type, const std::string& after) {
  std::vector<const SCell*> cells;
  for (const SCell& c : kCells) {
    if (group == c.group && type == c.type && after == c.after) cells.push_back(&c);
  }
  return cells;
}

std::vector<const SCell*> OnPurposeOf(const std::string& group, const std::string& type) {
  std::vector<const SCell*> cells;
  for (const SCell& c : kCells) {
    if (group == c.group && type == c.type && c.onPurpose) cells.push_back(&c);
  }
  return cells;
}

}  // namespace typecells
