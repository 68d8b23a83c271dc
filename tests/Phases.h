// The phases of a job and the states a phase row can stand in, by the short
// names the tests compare its rows with.
#pragma once

#include "msg/MsgEnums.h"

namespace drtest {

inline constexpr int kSuccess = Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
inline constexpr int kFailed = Api::VIRTUAL_APP_PHASE_STATE_FAILED;
inline constexpr int kRunning = Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS;
inline constexpr int kCWE = Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS;

inline constexpr int kReplicationPhase = Api::VIRTUAL_APP_PHASE_REPLICATION;
inline constexpr Api::VirtualAppJobPhaseType kBreak = Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP;
inline constexpr Api::VirtualAppJobPhaseType kResync = Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP;

}  // namespace drtest
