// The DR types of the crash matrix and the crash sampler: the ten VM types
// on the sample groups (the clean-up with and without deleting the DR VMs), the database planned failover and the five
// storage-array types, each with the literal picture (Picture) of the lab
// its uninterrupted run leaves.
#pragma once

#include <string>
#include <vector>

#include "host/CrashMatrix.h"

namespace crashmatrix {

extern const SType kPlannedFailover;
extern const SType kFailback;
extern const SType kUnplannedFailover;
extern const SType kPointInTimeFailover;
extern const SType kTestboot;
extern const SType kRevertFailover;
extern const SType kUndoFailover;
extern const SType kReverseReplication;
extern const SType kCleanupDestinationVM;
extern const SType kCleanupDeletingDRVMs;
extern const SType kTestFailover;
extern const SType kDatabaseFailover;
extern const SType kArrayPlannedFailover;
extern const SType kArrayUnplannedFailover;
extern const SType kArrayTestFailover;
extern const SType kArrayUndoFailover;
extern const SType kArrayUndoTestFailover;

// Every type above, in that order.
const std::vector<const SType*>& AllTypes();

// The name of a test of the type AllTypes()[info.param]: its group and DR
// type, and its first option when the same type is there without it.
std::string TypeName(const testing::TestParamInfo<size_t>& info);

// The moments the crash matrix kills a type at (none for a type not above).
const std::vector<SCrash>& CrashesOf(const SType& type);

}  // namespace crashmatrix
