// The crash matrix of the database planned failover and the storage-array
// DR types: each type's uninterrupted run against its literal picture, then
// the same run killed at the moments that change what a rerun must handle
// (CrashesOf).
#include <string>
#include <vector>

#include "host/CrashMatrixTypes.h"

namespace {

using crashmatrix::CCrashMatrix;
using crashmatrix::CrashesOf;
using crashmatrix::kDatabaseFailover;
using crashmatrix::kArrayPlannedFailover;
using crashmatrix::kArrayUnplannedFailover;
using crashmatrix::kArrayTestFailover;
using crashmatrix::kArrayUndoFailover;
using crashmatrix::kArrayUndoTestFailover;

using E2EDrJobCrashMatrixApp = CCrashMatrix;

TEST_F(E2EDrJobCrashMatrixApp, DatabaseFailover) { RunMatrix(kDatabaseFailover, CrashesOf(kDatabaseFailover)); }

TEST_F(E2EDrJobCrashMatrixApp, ArrayPlannedFailover) {
  RunMatrix(kArrayPlannedFailover, CrashesOf(kArrayPlannedFailover));
}

TEST_F(E2EDrJobCrashMatrixApp, ArrayUnplannedFailover) {
  RunMatrix(kArrayUnplannedFailover, CrashesOf(kArrayUnplannedFailover));
}

TEST_F(E2EDrJobCrashMatrixApp, ArrayTestFailover) { RunMatrix(kArrayTestFailover, CrashesOf(kArrayTestFailover)); }

TEST_F(E2EDrJobCrashMatrixApp, ArrayUndoFailover) { RunMatrix(kArrayUndoFailover, CrashesOf(kArrayUndoFailover)); }

TEST_F(E2EDrJobCrashMatrixApp, ArrayUndoTestFailover) {
  RunMatrix(kArrayUndoTestFailover, CrashesOf(kArrayUndoTestFailover));
}

}  // namespace
