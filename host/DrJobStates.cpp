#include "DrJobStates.h"

namespace {

const int kStateSuccess = 0;
const int kStateFailed = 1;
const int kStateCompletedWithErrors = 4;
const int kStateKilled = 16;
const int kStateSuspended = 32;
const int kStatePending = 64;

}  // namespace

const char* CDrJobStates::JobStatusOfState(int state) {
  switch (state) {
    case kStateSuccess: return "Completed";
    case kStateFailed: return "Failed";
    case kStateCompletedWithErrors: return "Completed w/ one or more errors";
    case kStateKilled: return "Killed";
    case kStateSuspended: return "Suspended";
    case kStatePending: return "Pending";
    default: return "Failed";
  }
}

bool CDrJobStates::IsEndedStatus(const std::string& status) {
  for (int state : {kStateSuccess, kStateFailed, kStateCompletedWithErrors, kStateKilled}) {
    if (status == JobStatusOfState(state)) return true;
  }
  return false;
}

bool CDrJobStates::IsCompletedStatus(const std::string& status) {
  return status == JobStatusOfState(kStateSuccess) || status == JobStatusOfState(kStateCompletedWithErrors);
}

const char* CDrJobStates::StateText(int state) {
  switch (state) {
    case kStateSuccess: return "SUCCESS";
    case kStateFailed: return "FAILED";
    case kStateCompletedWithErrors: return "COMPLETED WITH ERRORS";
    case kStateKilled: return "KILLED";
    case kStateSuspended: return "SUSPENDED";
    case kStatePending: return "PENDING";
    default: return "UNKNOWN";
  }
}

int CDrJobStates::ExitCodeOfState(int state) {
  switch (state) {
    case kStateSuccess: return kExitSuccess;
    case kStateFailed: return kExitFailed;
    case kStateCompletedWithErrors: return kExitCompletedWithErrors;
    case kStateKilled: return kExitKilled;
    case kStateSuspended: return kExitSuspended;
    case kStatePending: return kExitPending;
    default: return kExitOtherState;
  }
}
