// The VM operation library's entries: a call reaches the handler of its
// operation type (or the catch-all), a missing handler is a clear failure
// and never one of the codes callers act on, and a handler's -1 cannot pass
// for the caller's own quit.
#include <gtest/gtest.h>

#include <memory>

#include "core/RequestTap.h"
#include "log/LogSink.h"
#include "vm/VmAuxOps.h"
#include "vm/VmOperation.h"

namespace {

using Resp = Ida::VMOpResp;

int Call(int opType, Resp& response, int timeSeconds = 1800, bool retry = true) {
  TMMsg::VMProvisioningOption option;
  option.SetInt32(TMMsg::VMProvisioningOption::kOperationType, opType);
  Ida::VMOpReq request;
  request.MutableMsg(Ida::VMOpReq::kInstance).SetInt64(ZnEntities::PolicyInstanceFields::kInstanceId, 42);
  return VmOperation::PerformRemoteVMOperation(option, request, response, timeSeconds, retry);
}

VmOperationHandler Answering(int rc, int64_t proxy, int* calls = nullptr) {
  return [=](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req, Ida::VMOpResp& resp, int, bool) {
    if (calls != nullptr) ++*calls;
    resp = Ida::VMOpResp();
    resp.MutableMsg(Resp::kError).SetInt32(ZNGui::GenericResp::kErrorCode, rc);
    resp.SetInt64(Resp::kProxyClientId, proxy);
    // The instance reaches the handler as the caller set it.
    EXPECT_EQ(42, req.GetMsg(Ida::VMOpReq::kInstance).GetInt64(ZnEntities::PolicyInstanceFields::kInstanceId));
    return rc;
  };
}

class VmEntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    // The simulators may have registered the lab; these tests own the keys.
    m_clearAny.reset(new CScopedHandler<int, VmOperationHandler>(VmOperation::Handlers(), VmOperation::kAnyOperation,
                                                                 nullptr));
    VmOperation::Handlers().Unregister(VmOperation::kAnyOperation);
    CLogSink::Instance().ClearCapture();
  }
  void TearDown() override { m_clearAny.reset(); }

  std::unique_ptr<CScopedHandler<int, VmOperationHandler>> m_clearAny;
};

TEST_F(VmEntryPoints, WithoutAServiceTheOperationFailsClearlyAndTheResponseSaysWhy) {
  Resp response;
  response.SetInt64(Resp::kProxyClientId, 99);  // an earlier answer must not survive
  const int rc = Call(10, response);
  EXPECT_EQ(VmOperation::kNotServed, rc);
  EXPECT_GT(rc, 0) << "neither a success, a proxy failure nor the caller's quit";
  EXPECT_FALSE(response.Has(Resp::kProxyClientId));
  EXPECT_EQ(VmOperation::kNotServed, response.GetMsg(Resp::kError).GetInt32(ZNGui::GenericResp::kErrorCode));
  EXPECT_EQ("No VM operation service for operation type [10]",
            response.GetMsg(Resp::kError).GetString(ZNGui::GenericResp::kErrorText));
  EXPECT_TRUE(CLogSink::Instance().Contains("No VM operation service for operation type [10]",
                                            "PerformRemoteVMOperation"));
}

TEST_F(VmEntryPoints, TheOperationsOwnHandlerWinsOverTheCatchAllAndScopesPutBackWhatWasThere) {
  int any = 0, powerOn = 0;
  CScopedHandler<int, VmOperationHandler> all(VmOperation::Handlers(), VmOperation::kAnyOperation,
                                              Answering(0, 7, &any));
  {
    CScopedHandler<int, VmOperationHandler> one(VmOperation::Handlers(), 10, Answering(-100, 8, &powerOn));
    Resp response;
    EXPECT_EQ(VmOperation::kProxyConnectionFailure, Call(10, response));
    EXPECT_EQ(8, response.GetInt64(Resp::kProxyClientId));
    EXPECT_EQ(0, Call(29, response));
    EXPECT_EQ(7, response.GetInt64(Resp::kProxyClientId));
  }
  Resp response;
  EXPECT_EQ(0, Call(10, response));
  EXPECT_EQ(1, powerOn);
  EXPECT_EQ(2, any);
}

TEST_F(VmEntryPoints, AHandlersNegativeCodeCannotPassForTheCallersQuit) {
  for (int bad : {-1, -2, -270}) {
    SCOPED_TRACE(bad);
    CScopedHandler<int, VmOperationHandler> h(VmOperation::Handlers(), 3, Answering(bad, 5));
    Resp response;
    EXPECT_EQ(VmOperation::kInvalidResult, Call(3, response));
    EXPECT_EQ(VmOperation::kInvalidResult, response.GetMsg(Resp::kError).GetInt32(ZNGui::GenericResp::kErrorCode));
    EXPECT_FALSE(response.Has(Resp::kProxyClientId));
  }
  // The codes callers act on pass unchanged.
  for (int code : {0, VmOperation::kProxyConnectionFailure, VmOperation::kMountedThroughOtherProxy, 17}) {
    CScopedHandler<int, VmOperationHandler> h(VmOperation::Handlers(), 55, Answering(code, 5));
    Resp response;
    EXPECT_EQ(code, Call(55, response));
  }
}

TEST_F(VmEntryPoints, TheTapKeepsTheOperationTypeTheRequestAndTheAnswer) {
  CScopedHandler<int, VmOperationHandler> h(VmOperation::Handlers(), 16, Answering(0, 12));
  CRequestTap::Clear();
  CRequestTap::SetEnabled(true);
  Resp response;
  Call(16, response);
  Call(2, response);
  CRequestTap::SetEnabled(false);
  const std::vector<STappedRequest> taken = CRequestTap::Taken();
  CRequestTap::Clear();
  ASSERT_EQ(2u, taken.size());
  EXPECT_EQ("vm", taken[0].entry);
  EXPECT_EQ(16u, taken[0].messageType);
  EXPECT_EQ(0, taken[0].result);
  TMMsg::VMProvisioningOption option;
  ASSERT_TRUE(option.Unserialize(taken[0].request));
  EXPECT_EQ(16, option.GetInt32(TMMsg::VMProvisioningOption::kOperationType));
  ASSERT_EQ(1u, option.ListSize(TMMsg::VMProvisioningOption::kVMOpRequests));
  Resp reply;
  ASSERT_TRUE(reply.Unserialize(taken[0].reply));
  EXPECT_EQ(12, reply.GetInt64(Resp::kProxyClientId));
  EXPECT_EQ(VmOperation::kNotServed, taken[1].result);
}

TEST_F(VmEntryPoints, VMInformationComesFromTheVMsOwnHandlerElseTheCatchAll) {
  QSMServer::QVirtualMachineReq info;
  {
    CScopedHandler<std::string, VMInfoHandler> none(VmAuxOps::VMInfoHandlers(), VmAuxOps::kAnyVM, nullptr);
    VmAuxOps::VMInfoHandlers().Unregister(VmAuxOps::kAnyVM);
    EXPECT_EQ(VmOperation::kNotServed, VmAuxOps::getVMInfo("g-1", info));
    EXPECT_TRUE(CLogSink::Instance().Contains("No VM information service for VM [g-1]", "getVMInfo"));
  }
  auto answer = [](const char* ip) {
    return [ip](const std::string& guid, QSMServer::QVirtualMachineReq& out) {
      out.SetString(QSMServer::QVirtualMachineReq::kVMGuid, guid);
      out.SetString(QSMServer::QVirtualMachineReq::kIpAddress, ip);
      return 0;
    };
  };
  CScopedHandler<std::string, VMInfoHandler> all(VmAuxOps::VMInfoHandlers(), VmAuxOps::kAnyVM, answer("10.0.0.1"));
  CScopedHandler<std::string, VMInfoHandler> one(VmAuxOps::VMInfoHandlers(), "g-2",
                                                 [](const std::string&, QSMServer::QVirtualMachineReq&) { return 7; });
  EXPECT_EQ(0, VmAuxOps::getVMInfo("g-1", info));
  EXPECT_EQ("g-1", info.GetString(QSMServer::QVirtualMachineReq::kVMGuid));
  EXPECT_EQ("10.0.0.1", info.GetString(QSMServer::QVirtualMachineReq::kIpAddress));
  EXPECT_EQ(7, VmAuxOps::getVMInfo("g-2", info));
}

}  // namespace
