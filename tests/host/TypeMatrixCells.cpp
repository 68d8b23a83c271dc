#include "host/TypeMatrixCells.h"

#include <sstream>

namespace typecells {

namespace {

// Edit here: one row per cell, with the rules it breaks (writes, succeeded,
// refused, planted, nowhere, told, records) and the machine it breaks them
// on (0: any).
const std::vector<SCell> kCells = {
    // group, type run, after, rules, machine, on purpose, why

    // Faults, each until its mend lands.
    // The clean-up that deletes the DR VMs of machines that stand failed
    // over (it takes every failover status but those under way) leaves
    // their workloads running nowhere, and no line says so: the verdicts
    // read a deleted DR VM's power as unknown, not as off.
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
