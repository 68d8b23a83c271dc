// One machine or replication of a DR job as the orchestrator keeps it.
//
// The orchestrator that owns a record keeps a running total of every record's
// GetPercentageComplete, so the job's progress costs the same whatever the
// number of machines. An implementation therefore reports every change of
// what GetPercentageComplete returns through ReportPercentChange, from the
// thread that makes the change. A record nobody adopted reports to nobody.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "msg/MsgEnums.h"

struct SDRPhaseCtx;

// Where a record's changes of progress go. Called from any worker thread.
class IDRPercentSink {
 public:
  virtual void AddPercent(int64_t delta) = 0;

 protected:
  ~IDRPercentSink() {}
};

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

  // Set once by the adopting orchestrator, before any worker sees the record.
  void SetPercentSink(IDRPercentSink* sink) { m_percentSink = sink; }

 protected:
  // delta: new GetPercentageComplete minus the old one.
  void ReportPercentChange(int64_t delta) {
    if (m_percentSink != nullptr && delta != 0) m_percentSink->AddPercent(delta);
  }

 private:
  IDRPercentSink* m_percentSink = nullptr;
};

inline IDRBaseInfo::~IDRBaseInfo() {}
