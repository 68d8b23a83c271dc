// The whole kill table (killtable::CKillTable): every DR type killed at
// every moment of the crash matrix, as drjob control kill kills it, then
// followed by the next steps drjob printed, run as printed, up to the lab
// the uninterrupted run leaves. Part of ./dr.sh stress, not of ./dr.sh test
// (label "stress", suites named *KillTable*); E2EDrJobKills holds one kill
// per type.
#include <string>

#include "host/KillTable.h"

namespace {

using crashmatrix::AllTypes;
using crashmatrix::SCrash;
using crashmatrix::SType;

class DrJobKillTable : public killtable::CKillTable, public testing::WithParamInterface<size_t> {};

TEST_P(DrJobKillTable, KilledAtEachCrashMatrixMomentThenFollowedAsPrinted) {
  const SType& type = *AllTypes()[GetParam()];
  for (const SCrash& at : crashmatrix::CrashesOf(type)) KillAndRerun(type, at);
}

INSTANTIATE_TEST_SUITE_P(Types, DrJobKillTable, testing::Range<size_t>(0, AllTypes().size()), crashmatrix::TypeName);

}  // namespace
