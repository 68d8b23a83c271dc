// The type matrix: every DR type of a sample group (its crash-matrix
// entries, each with its options) run once on the fresh lab and once on
// the lab each entry of the group leaves after its uninterrupted run from
// its own start lab, with a write into every running VM before it; each
// job judged by the rules of TypeJudge.h against docs/engine.md's table.
// Sample's 10 entries on 11 labs, SampleArray's 5 on 6, SampleDB's and
// SampleTest's one on 2: 144 cells. A test per lab (column), so that each
// process makes one end lab; the cells that break a rule on purpose, or by
// a fault not yet mended, are named in TypeMatrixCells.cpp. Each cell
// prints one line: what it ran, its exit code, the rules it broke.
#include <ctype.h>
#include <stdio.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/TypeRuns.h"

namespace {

using crashmatrix::SType;

// A column: the group and the lab its cells run on.
struct SColumn {
  std::string group;
  std::string after;  // "fresh", or the entry whose end lab it is
};

const std::vector<SColumn>& Columns() {
  static const std::vector<SColumn> columns = [] {
    std::vector<SColumn> all;
    for (const std::string& group : typeruns::Groups()) {
      all.push_back({group, "fresh"});
      for (const SType* entry : typeruns::EntriesOf(group)) all.push_back({group, typeruns::EntryName(*entry)});
    }
    return all;
  }();
  return columns;
}

std::string ColumnName(const testing::TestParamInfo<size_t>& info) {
  std::string name = Columns()[info.param].group + "_after_" + Columns()[info.param].after;
  for (char& c : name) {
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

// The job id of every cell's job (the end labs' jobs are kJobId's).
constexpr long long kCellJob = crashmatrix::kJobId + 1;

class E2EDrJobTypeMatrix : public typeruns::CTypeRuns, public testing::WithParamInterface<size_t> {
 protected:
  // One cell: the entry on a copy of the column's lab, judged; the rules it
  // broke against those its named rows give.
  void RunCell(const SColumn& column, const SType& entry, const std::string& columnLab) {
    const std::string db = CopyOf(columnLab);
    Serialise(entry, db);
    const std::vector<std::string> written = WriteRunning(db, column.group);
    typejudge::SJobAttempt attempt;
    attempt.group = column.group;
    attempt.type = entry.type;
    attempt.before = attempt.jobBefore = PictureOf(db, column.group);
    const std::vector<std::string> args = EntryArgs(entry, db, kCellJob, nullptr);
    attempt.options.assign(args.begin() + 9, args.end());  // after --job-id
    int signal = 0;
    const drtest::SResult run = RunHost({}, args, signal);
    attempt.output = run.output;
    attempt.after = PictureOf(db, column.group);
    typejudge::CContents contents;
    contents.Saw(column.group, attempt.before);
    std::set<int> taken;
    const std::vector<typejudge::SFinding> findings = typejudge::Judge(attempt, contents, taken);

    const std::string cell = column.group + " " + typeruns::EntryName(entry) + " after " + column.after;
    const std::vector<const typecells::SCell*> named = typecells::CellsOf(column.group, typeruns::EntryName(entry),
                                                                          column.after);
    std::string broke, unexpected;
    for (const typejudge::SFinding& f : findings) {
      broke += " " + f.rule + (f.machine != 0 ? "(" + std::to_string(f.machine) + ")" : "");
      const bool excused = std::any_of(named.begin(), named.end(), [&f](const typecells::SCell* c) {
        return c->Breaks(f.rule) && (c->machine == 0 || c->machine == f.machine);
      });
      if (!excused) unexpected += typejudge::Text({f});
    }
    printf("type matrix: %s: exit %d%s | %s\n", cell.c_str(), run.code, signal != 0 ? " (signal)" : "",
           broke.empty() ? "holds every rule" : ("broke" + broke).c_str());
    const std::string runs = crashmatrix::RunText(killtable::Joined(args, " "), run.code, signal, run.output) +
                             "written before it in: " + killtable::Joined(written, ", ") + "\n";
    if (!unexpected.empty()) {
      ADD_FAILURE() << cell << " breaks rules no row of TypeMatrixCells.cpp names:\n"
                    << unexpected << "the lab before (- ) and after (+ ):\n"
                    << crashmatrix::PictureDiff(attempt.before, attempt.after) << "the run:\n"
                    << runs;
    }
    for (const typecells::SCell* c : named) {
      std::istringstream rules(c->rules);
      for (std::string rule; rules >> rule;) {
        const bool found = std::any_of(findings.begin(), findings.end(), [&](const typejudge::SFinding& f) {
          return f.rule == rule && (c->machine == 0 || c->machine == f.machine);
        });
        EXPECT_TRUE(found) << cell << " is named in TypeMatrixCells.cpp as breaking [" << rule
                           << "], and no longer does: remove it there (" << c->why << ")\n"
                           << runs;
      }
    }
  }
};

TEST_P(E2EDrJobTypeMatrix, EveryTypeOnTheLabAnotherLeavesHoldsTheTable) {
  const SColumn& column = Columns()[GetParam()];
  const std::string lab = column.after == "fresh" ? FreshLab(crashmatrix::EStartLab::kSeeded)
                                                  : ColumnLab(column.group, column.after);
  for (const SType* entry : typeruns::EntriesOf(column.group)) {
    SCOPED_TRACE(column.group + " " + typeruns::EntryName(*entry) + " after " + column.after);
    RunCell(column, *entry, lab);
  }
}

// The columns by number: the entries are other globals, not yet made while
// the tests are registered (E2EDrJobTypeTable checks the count).
constexpr size_t kColumnCount = 21;
INSTANTIATE_TEST_SUITE_P(E2EColumns, E2EDrJobTypeMatrix, testing::Range<size_t>(0, kColumnCount), ColumnName);

// The table the judge reads is the docs' own, whole: a row for every entry
// of the matrix, and the statuses a machine stands failed over at.
TEST(E2EDrJobTypeTable, EveryEntryHasARowAndTheWordsAreKnown) {
  EXPECT_EQ(kColumnCount, Columns().size());
  for (const SType* entry : crashmatrix::AllTypes()) {
    EXPECT_NE(nullptr, typejudge::PlaceOf(entry->group, entry->type, entry->options))
        << entry->group << " " << entry->type;
  }
  const typejudge::SPlace* deleting =
      typejudge::PlaceOf("Sample", "cleanup-destination-vm", {"--delete-from-hypervisor"});
  ASSERT_NE(nullptr, deleting);
  EXPECT_TRUE(deleting->Removes("DR VM"));
  EXPECT_FALSE(typejudge::PlaceOf("Sample", "cleanup-destination-vm", {})->Removes("DR VM"));
  EXPECT_TRUE(typejudge::StandsFailedOver("Failover Complete"));
  EXPECT_TRUE(typejudge::StandsFailedOver("Revert Failover Failed"));
  EXPECT_FALSE(typejudge::StandsFailedOver("Failover Failed"));
  // The types that drop a source snapshot reference an earlier job left
  // say so; the test types keep it.
  for (const char* type : {"unplanned-failover", "point-in-time-failover", "reverse-replication"}) {
    EXPECT_TRUE(typejudge::PlaceOf("Sample", type, {})->Removes("source snapshot reference")) << type;
  }
  EXPECT_FALSE(typejudge::PlaceOf("Sample", "testboot", {})->Removes("source snapshot reference"));
  // The two types that overwrite a source that stands failed over say so.
  for (const char* type : {"failback", "reverse-replication"}) {
    EXPECT_TRUE(typejudge::PlaceOf("Sample", type, {})->Discards("source VM content while failed over")) << type;
  }
}

}  // namespace
