// The cells of the type matrix that break a rule of the judge, each named
// with the rules it breaks and why. The matrix fails a cell that breaks a
// rule its row does not name, and a row whose cell no longer breaks a rule
// it names (remove it then). The walk over the types excuses a job only as
// an on-purpose row does, matched on the machine's statuses and snapshots
// before the job, never on the type run before it.
#pragma once

#include <string>
#include <vector>

namespace typecells {

struct SCell {
  const char* group;
  const char* type;    // the entry run (typeruns::EntryName)
  const char* after;   // "fresh", or the entry whose end lab it runs on
  const char* rules;   // the rules it breaks, blank-separated
  int machine;         // the one machine it breaks them on; 0: any
  bool onPurpose;      // the recorded behaviour makes it fail; else a fault its mend removes
  const char* why;

  bool Breaks(const std::string& rule) const;
};

const std::vector<SCell>& Cells();
// The rows of one cell.
std::vector<const SCell*> CellsOf(const std::string& group, const std::string& type, const std::string& after);
// The on-purpose rows of an entry.
std::vector<const SCell*> OnPurposeOf(const std::string& group, const std::string& type);

}  // namespace typecells
