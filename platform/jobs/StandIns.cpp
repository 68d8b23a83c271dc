#include "jobs/StandIns.h"

#include <stdlib.h>

#include "db/App_ExecuteSP.h"
#include "jobs/LabStore.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"

namespace {

std::string KnobName(const std::string& standIn) { return "fault." + standIn; }

std::string FailuresKnob(const std::string& target) { return "failures." + target; }

// A request type's failures, asked before its handler runs.
const char* kFailuresGate = "counted failures";

}  // namespace

bool CStandIns::SetFaultCode(const std::string& standIn, int fault) {
  return fault == 0 ? CLabStore::ClearKnob(KnobName(standIn))
                    : CLabStore::SetKnob(KnobName(standIn), std::to_string(fault));
}

int CStandIns::FaultCode(const std::string& standIn) {
  return atoi(CLabStore::GetKnob(KnobName(standIn), "0").c_str());
}

bool CStandIns::SetFault(const std::string& standIn, EStandInFault fault) {
  return SetFaultCode(standIn, static_cast<int>(fault));
}

EStandInFault CStandIns::Fault(const std::string& standIn) {
  switch (FaultCode(standIn)) {
    case 1: return EStandInFault::kFails;
    case 2: return EStandInFault::kEmptyAnswer;
    case 3: return EStandInFault::kErrorCode;
    default: return EStandInFault::kNone;
  }
}

int CStandIns::RunGenericProcedure(const std::string& name, const std::vector<SDBProcValue>& inputs,
                                   SDBProcResult& result, const GenericWork& work) {
  const EStandInFault fault = Fault(name);
  SStandInAnswer answer;
  if (fault == EStandInFault::kFails) {
    result.error = "injected failure of " + name;
    return -1;
  }
  if (fault == EStandInFault::kErrorCode) {
    answer.errorCode = kStandInFaultCode;
    answer.message = "injected error of " + name;
  } else {
    const int rc = work(inputs, answer);
    if (rc != 0) {
      result.error = answer.message;
      EvDebug().Error("RunGenericProcedure", "Procedure [%s] failed: [%s]", name.c_str(), answer.message.c_str());
      return rc;
    }
    if (fault == EStandInFault::kEmptyAnswer) return 0;
  }
  App::GenericResp resp;
  resp.SetInt32(App::GenericResp::kErrorCode, answer.errorCode);
  if (!answer.message.empty()) resp.SetString(App::GenericResp::kErrorMessage, answer.message);
  std::string text;
  // The caller's procedure wrapper puts the declaration in front.
  if (!resp.serializeUTF8(text, false)) {
    result.error = "cannot write the answer of " + name;
    return -1;
  }
  result.rows.push_back({SDBProcValue::Text(text)});
  return 0;
}

int CStandIns::RunQuery(const std::string& name, const std::string& request, std::string& response,
                        const QueryWork& work) {
  const EStandInFault fault = Fault(name);
  if (fault == EStandInFault::kFails) return -1;
  if (fault == EStandInFault::kErrorCode) return kStandInFaultCode;
  const int rc = work(request, response);
  if (rc == 0 && fault == EStandInFault::kEmptyAnswer) response.clear();
  return rc;
}

std::string CStandIns::ExecuteSPTarget(unsigned long messageType) { return "App_ExecuteSP." + std::to_string(messageType); }

bool CStandIns::SetFailures(const std::string& target, int times) {
  return times <= 0 ? CLabStore::ClearKnob(FailuresKnob(target))
                    : CLabStore::SetKnob(FailuresKnob(target), std::to_string(times));
}

bool CStandIns::TakeFailure(const std::string& target) {
  if (!CLabStore::TakeKnobCount(FailuresKnob(target))) return false;
  EvDebug().Error("TakeFailure", "Injected failure of [%s]", target.c_str());
  return true;
}

void CStandIns::Register() {
  App_ExecuteSP::Gates().Register(kFailuresGate, [](unsigned long messageType) {
    return TakeFailure(ExecuteSPTarget(messageType)) ? -1 : 0;
  });
}
