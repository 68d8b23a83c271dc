#include "host/TypeMatrixCells.h"

#include <sstream>

namespace typecells {

namespace {

// Edit here: one row per cell, with the rules it breaks (writes, succeeded,
// refused, planted, nowhere, told, records) and the machine it breaks them
// on (0: any).
const std::vector<SCell> kCells = {
    // group, type run, after, rules, machine, on purpose, why

    // Faults, each until its mend lands: none known.
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
