// One machine or replication of a DR job as the orchestrator keeps it.
#pragma once

#include <string>
#include <vector>

#include "msg/MsgEnums.h"

struct SDRPhaseCtx;

class IDRBaseInfo {
 public:
  virtual ~IDRBaseInfo() = 0;
  virtual bool IsSuccess() = 0;
  virtual bool IsSkipped() = 0;
  virtual bool IsDRComplete() = 0;
  virtual bool IsPending() = 0;
  virtual void SetStatus(Api::VirtualAppPhaseState state) = 0;
  // Appends every non-empty error text, in order.
  virtual void GetErrors(std::vector<std::string>& errors) = 0;
  virtual int GetPercentageComplete() = 0;
  virtual void UpdatePhase(SDRPhaseCtx& phase) = 0;
  // The record's line for the summary e-mail.
  virtual std::string GetReportMsg() = 0;
};

inline IDRBaseInfo::~IDRBaseInfo() {}
