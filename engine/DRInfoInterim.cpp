// Interim bodies of machine-record operations that the step runner calls and
// whose own bodies come with the machine-record work. They are weak: the full
// definitions replace them at link time, and this file goes once they exist.
#include "DRInfo.h"
#include "DRInfoUtils.h"
#include "SDROperationCtx.h"
#include "log/EvEvent.h"

__attribute__((weak)) bool CDRInfo::IsBatchOpSuccess(SDROperationCtx& ctx) {
  auto found = m_batchOpStatusMap.find(ctx.GetHash());
  return found != m_batchOpStatusMap.end() && found->second;
}

__attribute__((weak)) void CDRInfo::SetBatchOpStatus(SDROperationCtx& ctx, bool ok) {
  // The first outcome per operation wins.
  if (m_batchOpStatusMap.emplace(ctx.GetHash(), ok).second) return;
  EvEvent event;
  event.Debug("SetBatchOpStatus",
              "Attempt to override m_batchOpStatusMap key for operation [%s] with val [%s]. Invalid request!",
              DRInfoUtils::GetBatchOpStr(ctx.batchOp).c_str(), ok ? "true" : "false");
}

// Scripts are read from the DR group's VM sequence with the machine record's
// own body; until then no machine has scripts.
__attribute__((weak)) bool CDRInfo::IsScriptsConfigured(bool /*post*/) { return false; }
