#include "core/StopState.h"

namespace {
thread_local CStopState* t_stopState = nullptr;
}

CStopState* CStopState::Current() { return t_stopState; }

void CStopState::SetCurrent(CStopState* state) { t_stopState = state; }

bool CStopState::CurrentStopRequested() { return t_stopState && t_stopState->StopRequested(); }
