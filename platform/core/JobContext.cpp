#include "core/JobContext.h"

#include <atomic>

namespace {
std::atomic<int64_t> g_jobId{0};
}

int64_t CJobContext::CurrentJobId() { return g_jobId.load(std::memory_order_relaxed); }

void CJobContext::SetCurrentJobId(int64_t jobId) { g_jobId.store(jobId, std::memory_order_relaxed); }
