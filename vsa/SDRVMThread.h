// The hand-off record of a VM operation run on a worker thread.
//
// The worker and the thread that waits for it share one record. The record
// holds copies of the provisioning option, the request and the response, so
// the waiting thread may give up (the job quits) and return while the worker
// still runs: the worker keeps working on the copies, and the waiting thread
// never touches them again. Each side calls Release once when it is done
// with the record; the last one frees it.
//
// The worker writes the copies and the result, then sets the done flag with
// release semantics; the waiting thread reads the done flag with acquire
// semantics and, only once it is set, the result and the copies.
#pragma once

#include <atomic>

#include "msg/MsgClasses.h"

struct SDRVMTHread {
  // Copies the three messages; both sides hold the record.
  SDRVMTHread(TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request, Ida::VMOpResp& response)
      : m_option(option), m_request(request), m_response(response), m_done(false), m_result(0), m_holders(2) {
    s_live.fetch_add(1, std::memory_order_relaxed);
  }
  SDRVMTHread(const SDRVMTHread&) = delete;
  SDRVMTHread& operator=(const SDRVMTHread&) = delete;

  bool isOpDone() const { return m_done.load(std::memory_order_acquire); }
  void setOpDone() { m_done.store(true, std::memory_order_release); }
  int GetResult() const { return m_result.load(std::memory_order_acquire); }
  void setResult(int result) { m_result.store(result, std::memory_order_release); }

  // One side is done with the record; the last one frees it.
  void Release() {
    if (m_holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  // Records not yet freed, in the whole process.
  static int Live() { return s_live.load(std::memory_order_acquire); }

  TMMsg::VMProvisioningOption m_option;
  Ida::VMOpReq m_request;
  Ida::VMOpResp m_response;

 private:
  ~SDRVMTHread() { s_live.fetch_sub(1, std::memory_order_acq_rel); }

  std::atomic<bool> m_done;
  std::atomic<int> m_result;
  std::atomic<int> m_holders;
  static inline std::atomic<int> s_live{0};
};
