// The VM DR operation classes on the hypervisor lab: CVSALabFixture's lab
// and DR job, run by the dispatcher (CGenericDR) as the host runs a job, so
// each priority runs on the operation class of the job's DR type.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "VSALabFixture.h"
#include "engine/GenericDR.h"

class CVSAOperationLabFixture : public CVSALabFixture {
 protected:
  // The recovery target the lab's replications name (their target id).
  static constexpr int kTargetId = 301;

  // Seeds the lab (CVSALabFixture::Seed) and initialises the dispatcher on
  // the DR job instead of the step orchestrator.
  void SeedForOperations(const SVSALabSpec& spec);
  // A new dispatcher on the DR job (its application manager reads the
  // stored group, tasks and policies afresh).
  void UseDispatcher();
  // The same DR job again, restarted (CVSALabFixture::Restart), on the
  // dispatcher.
  void RestartForOperations();
  CGenericDR& Generic() { return *static_cast<CGenericDR*>(m_dr.get()); }
  // The DR job's own DR options, as the application manager read them; a
  // test changes them before the job runs.
  TMMsg::DROrchestrationOption& DROptions();
  // The DR job end to end: its final state.
  int32_t RunJob() { return m_dr->Run(); }

  // Stores a recovery target through its owner: a test VM kept the given
  // hours, the test size, the test network with its subnet (the DR VMs use
  // "net-b").
  static void AddRecoveryTarget(int id, int hours, const std::string& testSize, const std::string& testNetwork,
                                const std::string& subnet);

  // The lab's VMs of the destination site whose name starts so.
  static std::vector<SLabVM> DestinationVMsNamed(const std::string& prefix);
  // The clone a test failover of the replication makes in this process.
  static std::string CloneName(const SVSALabVM& vm);
};
