// The random crash sampler: each DR type killed after a random number of
// its log lines, a few times, each rerun compared with the type's picture.
// Part of ./dr.sh stress, not of ./dr.sh test (label "stress"). The seed is
// printed; DR_CRASH_SEED=<seed> replays a run, DR_CRASH_SAMPLES=<n> takes n
// crashes per type (3 by default).
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host/CrashMatrixTypes.h"

namespace {

using crashmatrix::AllTypes;
using crashmatrix::CCrashMatrix;
using crashmatrix::EnvNumber;
using crashmatrix::SCrash;
using crashmatrix::SOutcome;
using crashmatrix::SType;

// How many child jobs a rerun ends with may differ from an uninterrupted
// run: one launched just before the crash and not yet named on a row is
// waited for, then launched again, and a backup that ran twice leaves two
// archive files of each VM. That no job runs twice at once and none is left
// running is checked on every case.
SCrash::Lines AnyJobCounts(const std::string& picture) {
  SCrash::Lines lines;
  size_t at = 0;
  for (size_t end; (end = picture.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = picture.substr(at, end - at);
    const size_t count = line.rfind(" x");
    const bool backedUp = line.rfind("afile ", 0) == 0 && line.find(" mounted ") == std::string::npos;
    if ((line.rfind("jobs ", 0) == 0 || backedUp) && count != std::string::npos) {
      lines.emplace_back(line, line.substr(0, count) + " *");
    }
  }
  return lines;
}

class CrashSampler : public CCrashMatrix, public testing::WithParamInterface<size_t> {};

TEST_P(CrashSampler, RerunsAfterRandomCrashesEndAsTheUninterruptedRun) {
  const SType& type = *AllTypes()[GetParam()];
  const unsigned long seed = EnvNumber("DR_CRASH_SEED", std::random_device()());
  const unsigned long samples = EnvNumber("DR_CRASH_SAMPLES", 3);
  printf("crash sampler: %s %s, seed [%lu] (DR_CRASH_SEED=%lu replays it)\n", type.group.c_str(), type.type.c_str(),
         seed, seed);
  SOutcome reference;
  const long lines = ReferenceLines(type, reference);
  Expect(type, reference, "uninterrupted");
  ASSERT_GT(lines, 1);
  std::mt19937 random(static_cast<std::mt19937::result_type>(seed + GetParam()));
  std::uniform_int_distribution<long> at(1, lines - 1);
  for (unsigned long i = 0; i < samples; ++i) {
    const long line = at(random);
    Expect(type, CrashAfterLines(type, line), "killed after log line " + std::to_string(line) + " of " +
                                                  std::to_string(lines),
           AnyJobCounts(type.picture));
  }
}

INSTANTIATE_TEST_SUITE_P(Types, CrashSampler, testing::Range<size_t>(0, AllTypes().size()), crashmatrix::TypeName);

}  // namespace
