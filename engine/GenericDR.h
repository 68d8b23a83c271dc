// The orchestrator the factory makes: runs each sub-priority on the context
// that its information source and the job's DR type call for.
#pragma once

#include "DRBase.h"
#include "msg/MsgEnums.h"

class IDRContext;
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

  // A context for the priority as a job of type would make it, nullptr when
  // its kind of replication does not take the type (or it cannot be made).
  // The verdicts make one to ask whether a job would take a machine up.
  IDRContext* NewContext(const SDRPriority& priority, TMMsg::DROrchestrationType type);

 private:
  // The contexts of a VM or storage-array priority for a type; false for a
  // type that kind does not take (context then stays nullptr).
  bool NewVSAContext(TMMsg::DROrchestrationType type, IDRContext*& context);
  bool NewSnapArrayContext(TMMsg::DROrchestrationType type, IDRContext*& context);
};
