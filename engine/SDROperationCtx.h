// The context of one DR step over a list of machines: where it runs, which
// phase it records, and the switches that shape it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "msg/MsgEnums.h"

class CDRInfo;
struct SDROSubclient;
struct SDRPriority;
class SSMReplicaGroup;

struct SDROperationCtx {
  SDROperationCtx();
  SDROperationCtx(const SDROperationCtx&) = default;
  SDROperationCtx(SDROperationCtx&&) = default;
  SDROperationCtx& operator=(const SDROperationCtx&) = default;
  SDROperationCtx& operator=(SDROperationCtx&&) = default;

  // Takes the other context's settings; keeps this one's machines, subclient
  // group, priority, job id and replica group.
  void Copy(const SDROperationCtx& other);
  // "batchOp:snapType:site:ignoreQuit:preScript", the key of a machine's
  // per-operation status.
  std::string GetHash() const;
  // The first machine, null when there is none.
  CDRInfo* GetInfo() const;

  std::vector<CDRInfo*> drInfoList;
  SDROSubclient* subclient;
  Api::DRSite site;
  SDRPriority* priority;
  Api::VirtualAppJobPhaseType phase;
  bool updatePhaseInfoTbl;          // write phase rows for the machines
  bool markRowAsFailedOnFailure;    // a failed phase also fails the replication
  bool preScript;                   // a script step runs pre-scripts (else post-scripts)
  bool ignoreQuit;                  // run even when the job's quit flag is set
  bool useStoredSnapRef;            // snapshot revert/delete use the replication's stored reference
  ZNDR::BatchOperation batchOp;     // 0: the step runner derives it from the phase
  int64_t jobId;                    // 0: the DR job's own id
  int32_t snapType;                 // 1 source, 2 failover, 3 point in time, 4 replica-sync-direct
  bool vmOpAsync;
  bool postStep;
  bool mandateAllSuccess;           // refuse to run when a machine was dropped earlier
  SSMReplicaGroup* replicaGroup;    // volume-relationship target of storage-array items
  bool pollWithQuit;                // wait for per-machine threads by polling with quit handling
  bool raisePendingCauseOnFailure;  // a failed phase raises the job's pending cause
  bool failureNotLastPhase;         // a VM step's row that does not succeed leaves the machine's last phase
};
