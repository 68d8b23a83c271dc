// Machine records of stored VM replications, loaded through a real VM data
// source, with a DR job, its job manager and an application manager.
#pragma once

#include <memory>
#include <vector>

#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "engine/DRRecordsTestSupport.h"
#include "engine/SDRPriority.h"
#include "services/DRAppManager.h"

class CVMMachinesTestBase : public CDRRecordsTestBase {
 protected:
  void SetUp() override {
    CDRRecordsTestBase::SetUp();
    StartJob(JobOptions(false));
    m_vmPriority.order = 1;
  }

  // Stores the replications, loads them through one VM data source and
  // makes a machine record of each, in order.
  std::vector<CDRInfo*> Machines(const std::vector<App::VSAReplicationInfo>& repls,
                                 TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER) {
    SDataSourceInfo info;
    info.jobId = kJob;
    info.drGroupId = kGroup;
    info.drType = type;
    for (const App::VSAReplicationInfo& r : repls) {
      const int taskId = r.Has(App::VSAReplicationInfo::kSubtask)
                             ? r.GetMsg(App::VSAReplicationInfo::kSubtask).GetInt32(ZnEntities::SubtaskEntity::kTaskId)
                             : 0;
      StoreRepl(r, taskId);
      info.replIds.push_back(r.GetInt32(App::VSAReplicationInfo::kReplicationId));
    }
    m_sources.emplace_back(new CDRDataSource(info));
    EXPECT_TRUE(m_sources.back()->IsDataLoaded());
    return Records(m_sources.back().get(), info, m_vmPriority, type);
  }

  std::vector<CDRInfo*> Records(CDRDataSource* source, SDataSourceInfo info, SDRPriority& priority,
                                TMMsg::DROrchestrationType type) {
    std::vector<CDRInfo*> out;
    for (int32_t id : info.replIds) {
      info.replId = id;
      SDRInfoCtx ctx(source, info, priority);
      ctx.drType = type;
      ctx.jobManager = m_jm.get();
      ctx.appManager = &m_am;
      m_infos.emplace_back(new CDRInfo(ctx));
      out.push_back(m_infos.back().get());
    }
    return out;
  }

  CDRAppManager m_am;
  SDRPriority m_vmPriority;
  std::vector<std::unique_ptr<CDRDataSource>> m_sources;
  std::vector<std::unique_ptr<CDRInfo>> m_infos;
};
