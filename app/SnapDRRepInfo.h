// The record of one VM replicated by storage-array snapshots. It holds its
// own replication message and hands it out through GetBaseRepInfo, so the
// inherited getters read it.
#pragma once

#include <vector>

#include "AppRepInfo.h"
#include "msg/MsgClasses.h"

class SnapDRRepInfo : public AppRepInfo {
 public:
  SnapDRRepInfo();
  explicit SnapDRRepInfo(const Api::SnapDRReplicationInfo& info);
  SnapDRRepInfo(const SnapDRRepInfo&) = default;
  SnapDRRepInfo& operator=(const SnapDRRepInfo&) = default;
  ~SnapDRRepInfo() override;

  CNMessageBase& GetBaseRepInfo() override { return m_info; }
  // The storage-array message's fields by meaning; the meanings it does not
  // carry yet read as absent.
  const SAppRepFieldTable& GetFieldTable() const override;

  bool IsToolsInstalled();
  // Clears out, then one entry per distinct source datastore name, in the
  // order of the datastore volumes.
  void GetSourceDatastores(std::vector<VirtualServer::VMDatastoreInfo>& out);
  unsigned GetDSCount();

  // The VM description a VM-information step last reported for the DR VM.
  Ida::VirtualMachine GetVMInfo() const { return m_vmInfo; }
  void SetVMInfo(const Ida::VirtualMachine& vm) { m_vmInfo = vm; }

 private:
  Api::SnapDRReplicationInfo m_info;
  Ida::VirtualMachine m_vmInfo;
};
