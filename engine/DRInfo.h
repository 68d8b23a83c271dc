// The machine record: one replication (machine, database or volume set) of
// the DR job with the state of its phases per site, its errors, flags,
// progress and per-operation outcomes. Phase changes are written through the
// record's data source.
//
// A record is updated by one thread at a time (the orchestrator's or the one
// DR worker running its machine); it takes no lock of its own. Progress and
// the success, skipped and pending flags are also read by other threads
// (the progress refresh, the sub-priority workers), so they are atomic.
// Because one thread at a time writes, the change of GetPercentageComplete
// that a write causes (reported to the orchestrator's running total) is
// exactly the difference of the values before and after it.
#pragma once

#include <stdint.h>

#include <atomic>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "IDRBaseInfo.h"
#include "SDRInfoCtx.h"
#include "SDRPhaseCtx.h"
#include "SDataSourceInfo.h"
#include "jobs/MachineVerdictStore.h"
#include "msg/MsgEnums.h"

class CDRAppManager;
class CDRDataSource;
class CDRJobManager;
class IRepInfo;
struct SDROperationCtx;
struct SDRPriority;

class CDRInfo : public IDRBaseInfo {
 public:
  explicit CDRInfo(SDRInfoCtx& ctx);
  ~CDRInfo() override;

  // ---- IDRBaseInfo ----
  bool IsSuccess() override { return m_success.load(); }
  bool IsSkipped() override { return m_skipped.load(); }
  // False without a data source.
  bool IsDRComplete() override;
  bool IsPending() override { return m_pending.load(); }
  void SetStatus(Api::VirtualAppPhaseState state) override;
  void GetErrors(std::vector<std::string>& errors) override;
  // 100 once the machine succeeded, else the weight gathered so far.
  int GetPercentageComplete() override;
  void UpdatePhase(SDRPhaseCtx& phase) override;
  std::string GetReportMsg() override { return m_reportMsg; }

  void SetReportMsg(const std::string& text) { m_reportMsg = text; }
  int32_t GetReplId() const { return m_sourceInfo.replId; }
  // The replication id when the record's priority has a replication source
  // (0, 2 or 4); 0 otherwise.
  int32_t GetEntityId() const;
  // The data source's record; null without one.
  IRepInfo* GetRepInfo();
  CDRDataSource* getDataSource() const { return m_dataSource; }
  TMMsg::DROrchestrationType GetDRType() const { return m_drType; }
  CDRAppManager* GetAppMgrPtr() const { return m_appManager; }
  CDRJobManager* GetJobMgrPtr() const { return m_jobManager; }
  SDRPriority* GetPriority() const { return m_priority; }
  // The priority's information source; VM replication without a priority.
  TMMsg::DROpSourceType GetInfoSource() const;
  SDRPhaseCtx GetLastPhase() const { return m_lastPhase; }

  // phase map[phase][site] := state.
  void UpdatePhaseMap(const SDRPhaseCtx& phase);
  // 0xFFFFFFFF when the phase or the site has no state.
  uint32_t GetPhaseState(Api::VirtualAppJobPhaseType phase, Api::DRSite site) const;
  // "<order number>:<replication id>".
  std::string GetId() const;
  // The DR group id of the record's priority.
  int32_t GetVAppId() const;

  void UpdatePhasePercentage(Api::VirtualAppJobPhaseType phase);
  void UpdateError(SDRPhaseCtx& phase, bool raisePendingCause);
  bool IsScriptsConfigured(bool post);
  bool IsBatchOpSuccess(SDROperationCtx& ctx);
  void SetBatchOpStatus(SDROperationCtx& ctx, bool ok);
  bool UpdateProperty(ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo* info);
  bool IsIndexingV2();

  // ---- What the job's verdict on the machine is told by (CDRVerdicts) ----
  // Why the machine was left out of the DR operation (skipped), in the
  // words its context logged; the last one given stands.
  void SetSkipReason(const std::string& reason) { m_skipReason = reason; }
  const std::string& GetSkipReason() const { return m_skipReason; }
  // The first phase update of this run that failed; false when none did.
  bool GetFirstFailure(SDRPhaseCtx& failure) const;
  // The first failed update of a step, one that became the machine's last
  // phase (neither a clean-up's nor one its operation lets fail); false
  // when none did.
  bool GetFirstStepFailure(SDRPhaseCtx& failure) const;
  // The first failed update of a clean-up, or of a step that lets it fail,
  // made after the job's kill was issued: what the kill's clean-up met, not
  // why the machine failed. False when none did.
  bool GetFirstFailureAfterKill(SDRPhaseCtx& failure) const;
  // The job took the machine up in this run: set it under way, or updated
  // a phase of it (a step's or a clean-up's).
  bool HasBegun() const { return m_underWay || !m_phaseMap.empty(); }
  // A step of this run updated a phase of the machine (GetLastPhase names
  // the last one); a clean-up's update is not a step's.
  bool HasStepBegun() const { return m_stepBegun; }
  // The job took the machine up without a phase of it yet: its context set
  // the machine's own status to one of the type's in-progress statuses.
  void MarkUnderWay() { m_underWay = true; }
  // The state of the phase's last row this run stored, whatever its site
  // (a stored row has none); 0xFFFFFFFF when it stored none. What a restart
  // would read of this run in its history.
  uint32_t GetStoredPhaseState(Api::VirtualAppJobPhaseType phase) const;
  // Skipped by a restart for a failed status that the job's own earlier
  // attempt left: the job did not finish the machine, whatever it skipped.
  void SetSkippedAfterOwnFailure() { m_skippedAfterOwnFailure = true; }
  bool IsSkippedAfterOwnFailure() const { return m_skippedAfterOwnFailure; }
  // The machine's replication has no record any more (a clean-up removed
  // it, this run or an earlier one): no DR group names it, so no new job of
  // any type takes it up, whatever its record last held.
  void SetReplicationRemoved() { m_replicationRemoved = true; }
  bool IsReplicationRemoved() const { return m_replicationRemoved; }
  // A step failed the machine for an option of the job: none given for it,
  // or one that names nothing of it. A restart, or a new job made with the
  // same options, would fail it again.
  void SetNeededOption(EMachineOption option) { m_neededOption = option; }
  EMachineOption GetNeededOption() const { return m_neededOption; }

 private:
  SDataSourceInfo m_sourceInfo;
  TMMsg::DROrchestrationType m_drType;
  std::unordered_map<int32_t, std::unordered_map<int32_t, int32_t>> m_phaseMap;
  std::vector<std::string> m_errors;
  SDRPhaseCtx m_lastPhase;
  CDRDataSource* m_dataSource;
  SDRPriority* m_priority;
  std::atomic<bool> m_success;
  std::atomic<bool> m_skipped;
  std::atomic<bool> m_pending;
  std::atomic<int32_t> m_percent;
  std::map<std::string, bool> m_batchOpStatusMap;
  CDRJobManager* m_jobManager;
  CDRAppManager* m_appManager;
  std::string m_reportMsg;
  std::string m_skipReason;
  bool m_hasFailure = false;
  SDRPhaseCtx m_firstFailure;
  bool m_hasStepFailure = false;
  SDRPhaseCtx m_firstStepFailure;
  bool m_hasFailureAfterKill = false;
  SDRPhaseCtx m_firstFailureAfterKill;
  bool m_underWay = false;
  bool m_stepBegun = false;
  std::unordered_map<int32_t, int32_t> m_storedPhaseState;
  bool m_skippedAfterOwnFailure = false;
  bool m_replicationRemoved = false;
  EMachineOption m_neededOption = EMachineOption::kNone;
};
