// A test orchestrator bound to a real DR job in the job store, with a test
// context and machine records: for step-runner and pool tests that need the
// job manager's quit, kill and thread-count behaviour.
#pragma once

#include <memory>

#include <gtest/gtest.h>

#include "drorch/DRJobManager.h"
#include "TestStepContext.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "services/ServicesTestSupport.h"

class CStepJobTestBase : public CServicesTestBase {
 protected:
  explicit CStepJobTestBase(long long jobId) : m_jobId(jobId) {}

  void SetUp() override {
    CServicesTestBase::SetUp();
    CreateJob(m_jobId, Xml(MakeOptions(1)));
    m_client.reset(new ZNDROrchestrationClnt(m_jobId));
    ASSERT_TRUE(m_jm.Initialize(*m_client, 0, 2));
    CDRBaseTestPeer::SetJobManager(m_dr, &m_jm);
    CDRBaseTestPeer::SetJobId(m_dr, m_jobId);
  }

  const long long m_jobId;
  std::unique_ptr<ZNDROrchestrationClnt> m_client;
  CDRJobManager m_jm;
  CStepTestDR m_dr;
  CStepTestContext m_context{m_dr};
  CStepTestMachines m_machines{m_dr, &m_jm, m_dr.GetDRAppMgr()};
};
