// docs/engine.md's table "Where each DR type puts a machine", read from the
// docs as the tests run: the judge of the type matrix and of the walk over
// the types holds every job to it, so that the table and the tests cannot
// part.
#pragma once

#include <string>
#include <vector>

namespace typejudge {

// One row: a DR type of one kind of replication, as the table words it.
struct SPlace {
  std::string kind;                // "VM", "storage array", "database"
  std::string type;                // the DR type as drjob names it
  std::vector<std::string> flags;  // the options the row is for (--delete-from-hypervisor)
  std::string failover;            // a status, "none", "unchanged", "no record" or "-"
  std::string sync;                // the same, or "unchanged or Sync Enabled"
  std::string test;
  std::string runs;                // "source VM", "DR VM", "both VMs", "DR mount", "DR database", "unchanged"
  // What the type may discard: "source VM content", "DR VM content", each
  // with " while failed over" or " while not failed over" when it may only
  // then, or "DR VM" (deleted); none when empty.
  std::vector<std::string> discards;
  // What it removes: "replication record", "failover snapshot", "source
  // snapshot", "source snapshot reference" (the reference alone),
  // "point-in-time snapshots", "source VM's snapshots", "DR VM".
  std::vector<std::string> removes;

  bool Discards(const std::string& what) const;
  bool Removes(const std::string& what) const;
};

// The rows, read once; a table that cannot be read (a cell whose words the
// judge does not know) fails the test that asked.
const std::vector<SPlace>& Table();
// The failover statuses a machine stands failed over at, from the docs'
// words "A machine stands failed over while its failover status is ...".
const std::vector<std::string>& FailedOverStatuses();
bool StandsFailedOver(const std::string& failoverStatus);

// The kind of a sample group's replications.
std::string KindOf(const std::string& group);
// The row of a type run on a group with options: the one for the most of
// them (null when the table has none).
const SPlace* PlaceOf(const std::string& group, const std::string& type, const std::vector<std::string>& options);

}  // namespace typejudge
