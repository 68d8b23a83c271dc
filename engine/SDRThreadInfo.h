// One work item of a DR thread pool. Allocated by the launcher, deleted by
// the worker function after the work; the operation context it points to
// lives in the launcher until the pool's wait returns.
#pragma once

#include <string>

#include "DRThreadType.h"

class CDRInfo;
class IDRContext;
class IDROrchestrator;
struct SDROperationCtx;
struct SDROSubclient;
struct SDRPriority;

struct SDRThreadInfo {
  SDRThreadInfo(IDRContext* context, SDROSubclient* subclient, SDROperationCtx* opCtx)
      : SDRThreadInfo(context, opCtx, DRThreadType(0)) {
    this->subclient = subclient;
  }
  SDRThreadInfo(IDRContext* context, CDRInfo* info, SDROperationCtx* opCtx)
      : SDRThreadInfo(context, opCtx, DRThreadType(2)) {
    this->info = info;
  }
  SDRThreadInfo(IDRContext* context, SDRPriority* priority) : SDRThreadInfo(context, nullptr, DRThreadType(1)) {
    this->priority = priority;
  }
  SDRThreadInfo(IDRContext* context, SDROperationCtx* opCtx, DRThreadType type)
      : drObject(nullptr),
        subclient(nullptr),
        priority(nullptr),
        info(nullptr),
        context(context),
        opCtx(opCtx),
        threadType(type) {}

  void SetDRObject(IDROrchestrator* object) { drObject = object; }
  IDROrchestrator* GetDRObject() const { return drObject; }

  IDROrchestrator* drObject;
  SDROSubclient* subclient;  // type 0
  SDRPriority* priority;     // type 1
  CDRInfo* info;             // type 2
  IDRContext* context;       // none for type 1
  SDROperationCtx* opCtx;
  std::string name;
  DRThreadType threadType;
};
