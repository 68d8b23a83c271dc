// The orchestrator the factory makes: runs each sub-priority on the context
// that its information source and the job's DR type call for.
#pragma once

#include "DRBase.h"
#include "msg/MsgEnums.h"

struct SDRPriority;

class CGenericDR : public CDRBase {
 public:
  explicit CGenericDR(TMMsg::DROrchestrationType drType);
  ~CGenericDR() override;

  bool RunPriority(const SDRPriority& priority) override;

  bool ProcessVSAReplicationPriority(const SDRPriority& priority);
  bool ProcessDBReplicationPriority(const SDRPriority& priority);
  bool ProcessPhysicalMachinePriority(const SDRPriority& priority);
  bool ProcessSnapArrayReplicationPriority(const SDRPriority& priority);
};
