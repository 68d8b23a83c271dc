// One subclient (application) group of a priority: the machines that go in
// and the ones that come out of its operations.
#pragma once

#include <stdint.h>

#include <vector>

class CDRInfo;

struct SDROSubclient {
  SDROSubclient(int32_t order, int32_t appId) : order(order), bkpJobId(0), appId(appId), success(false) {}

  int64_t GetBkpJobId() const { return bkpJobId; }
  void SetBkpJobId(int64_t jobId) { bkpJobId = jobId; }
  int32_t GetAppId() const { return appId; }
  void Init(const std::vector<CDRInfo*>& machines) { inputList = machines; }
  std::vector<CDRInfo*>& GetInputList() { return inputList; }
  std::vector<CDRInfo*>& GetOutputList() { return outputList; }
  void SetSuccess(bool ok) { success = ok; }
  bool IsSuccess() const { return success; }

  int32_t order;
  int64_t bkpJobId;
  int32_t appId;
  std::vector<CDRInfo*> inputList;
  std::vector<CDRInfo*> outputList;
  bool success;
};
