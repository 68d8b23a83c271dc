// DR types run on the labs other types leave: what the type matrix and the
// walk over the types share. A group's types are its entries of the crash
// matrix (crashmatrix::AllTypes()), each with its options; the lab an
// entry leaves is its uninterrupted run from its own start lab, made once
// per test process and copied for each use, as the start labs are.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "host/LiveStops.h"
#include "host/TypeJudge.h"
#include "host/TypeMatrixCells.h"

namespace typeruns {

// The sample groups the matrix and the walk run.
const std::vector<std::string>& Groups();
// A group's entries, in AllTypes()'s order.
std::vector<const crashmatrix::SType*> EntriesOf(const std::string& group);
// An entry as the named cells name it: its type, and its options that tell
// it from another entry of its type ("cleanup-destination-vm
// --delete-from-hypervisor").
std::string EntryName(const crashmatrix::SType& entry);
// The same for a job of a type run with options.
std::string EntryName(const std::string& group, const std::string& type, const std::vector<std::string>& options);

class CTypeRuns : public livestops::CLiveStops {
 protected:
  // The lab the entry leaves after its uninterrupted run from its start
  // lab (made the first time it is asked for, then kept for the process).
  std::string EndLab(const crashmatrix::SType& entry);
  // The column a named cell runs on: the fresh lab, or an entry's end lab.
  std::string ColumnLab(const std::string& group, const std::string& column);

  // A write into every running VM of the group's machines (a storage-array
  // machine's source VM; a database cannot be written): the VMs written.
  static std::vector<std::string> WriteRunning(const std::string& db, const std::string& group);
  // The group's picture on the lab db (closed again).
  static std::string PictureOf(const std::string& db, const std::string& group);
  // drjob's arguments that run the entry as job on db (0: a new job of the
  // id drjob gives it), its options last; a point-in-time
  // failover's times are from its DR VMs' listed snapshots (the first, or a
  // random one when random is given), the entry's own where a DR VM lists
  // none.
  static std::vector<std::string> EntryArgs(const crashmatrix::SType& entry, const std::string& db, long long job,
                                            std::mt19937* random);
  // One machine-at-a-time setting for an entry that asks for it.
  static void Serialise(const crashmatrix::SType& entry, const std::string& db);

  // Whether a named cell of the rows given excuses the finding: one of its
  // rules on a machine that stood, before the job, as it stands in the
  // cell's column lab (statuses and snapshots).
  bool Excused(const typejudge::SFinding& finding, const std::vector<const typecells::SCell*>& cells,
               const typejudge::SStanding& before);
};

}  // namespace typeruns
