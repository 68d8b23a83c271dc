// The crash matrix of the DR types on VM replications: each type's
// uninterrupted run against its literal picture, then the same run killed
// at the moments that change what a rerun must handle (CrashesOf), each
// rerun against the same picture.
#include <string>
#include <vector>

#include "host/CrashMatrixTypes.h"

namespace {

using crashmatrix::CCrashMatrix;
using crashmatrix::CrashesOf;
using crashmatrix::SOutcome;
using crashmatrix::SCrash;
using crashmatrix::SType;
using crashmatrix::kPlannedFailover;
using crashmatrix::kFailback;
using crashmatrix::kUnplannedFailover;
using crashmatrix::kPointInTimeFailover;
using crashmatrix::kTestboot;
using crashmatrix::kRevertFailover;
using crashmatrix::kUndoFailover;
using crashmatrix::kReverseReplication;
using crashmatrix::kCleanupDestinationVM;
using crashmatrix::kCleanupDeletingDRVMs;
using crashmatrix::kTestFailover;

class E2EDrJobCrashMatrix : public CCrashMatrix {
 protected:
  // RunMatrix of a clean-up, whose every run, the reruns included, tells
  // each machine of "Sample" as succeeded: a rerun counts what its earlier
  // attempt removed by that attempt's rows.
  void RunCleanupMatrix(const SType& type, const std::vector<SCrash>& crashes) {
    const SOutcome reference = Reference(type);
    Expect(type, reference, "uninterrupted");
    ExpectEveryMachineSucceeded(reference, "uninterrupted");
    for (const SCrash& crash : crashes) {
      const SOutcome outcome = Crash(type, crash);
      Expect(type, outcome, crash.name, crash.differs);
      ExpectEveryMachineSucceeded(outcome, crash.name);
    }
  }
  static void ExpectEveryMachineSucceeded(const SOutcome& outcome, const std::string& what) {
    // A replication the earlier attempt removed is named by its id: its
    // record and its place in the DR group are gone.
    for (const char* machine : {"(replication 101)", "(replication 102)", "(replication 201)"}) {
      EXPECT_NE(std::string::npos, outcome.output.find(std::string("] ") + machine + ": succeeded\n"))
          << what << ": " << outcome.output;
    }
  }
};

TEST_F(E2EDrJobCrashMatrix, PlannedFailover) { RunMatrix(kPlannedFailover, CrashesOf(kPlannedFailover)); }

TEST_F(E2EDrJobCrashMatrix, Failback) { RunMatrix(kFailback, CrashesOf(kFailback)); }

TEST_F(E2EDrJobCrashMatrix, UnplannedFailover) { RunMatrix(kUnplannedFailover, CrashesOf(kUnplannedFailover)); }

TEST_F(E2EDrJobCrashMatrix, PointInTimeFailover) {
  // Every machine completed; the rerun cannot reach the DR site, where it
  // could not tell whether a DR VM runs. Done is done: it asks nothing.
  SCrash unreachable("before the final state, the DR site out of reach", "Total machines for DR");
  unreachable.unreachable = "site-b";
  std::vector<SCrash> crashes = CrashesOf(kPointInTimeFailover);
  crashes.push_back(unreachable);
  RunMatrix(kPointInTimeFailover, crashes);
}

TEST_F(E2EDrJobCrashMatrix, Testboot) { RunMatrix(kTestboot, CrashesOf(kTestboot)); }

TEST_F(E2EDrJobCrashMatrix, RevertFailover) { RunMatrix(kRevertFailover, CrashesOf(kRevertFailover)); }

TEST_F(E2EDrJobCrashMatrix, UndoFailover) { RunMatrix(kUndoFailover, CrashesOf(kUndoFailover)); }

TEST_F(E2EDrJobCrashMatrix, ReverseReplication) { RunMatrix(kReverseReplication, CrashesOf(kReverseReplication)); }

TEST_F(E2EDrJobCrashMatrix, CleanupDestinationVM) {
  RunCleanupMatrix(kCleanupDestinationVM, CrashesOf(kCleanupDestinationVM));
}

TEST_F(E2EDrJobCrashMatrix, CleanupDeletingDRVMs) {
  RunCleanupMatrix(kCleanupDeletingDRVMs, CrashesOf(kCleanupDeletingDRVMs));
}

TEST_F(E2EDrJobCrashMatrix, TestFailover) { RunMatrix(kTestFailover, CrashesOf(kTestFailover)); }

}  // namespace
