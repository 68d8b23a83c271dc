// The array lab in tests: a fresh database with every simulator table, the
// job simulator's runner (snapshots are copied from its backups), and a
// small lab to start from: array 3 ("array-dr", vserver "vs_dr") with two
// snapmirrored relationships and their LUNs, array 4 without a management
// entry, and helpers for storage-array replications.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "array/AfileStore.h"
#include "array/ArrayCallJournal.h"
#include "array/ArrayLab.h"
#include "array/ArrayLunStore.h"
#include "array/ArrayRelationshipStore.h"
#include "array/ArrayStore.h"
#include "array/ManageONTAP.h"
#include "array/ReplicaGroupReportStore.h"
#include "array/SnapReplicationStore.h"
#include "sim/Simulators.h"

class CArrayLabTestBase : public CJobSimTestBase {
 protected:
  static constexpr int kArray = 3;
  static constexpr int kUnmanaged = 4;
  static constexpr int kGroup = 900;
  static constexpr int kCopy = 52;
  static constexpr const char* kPath1 = "vs_dr:vol_ds1";
  static constexpr const char* kPath2 = "vs_dr:vol_ds2";

  void SetUp() override {
    CJobSimTestBase::SetUp();
    std::string error;
    ASSERT_TRUE(CSimulators::CreateTables(error)) << error;
    ASSERT_TRUE(CArrayStore::Add(SLabArray{kArray, "array-dr", "vs_dr", true, true}));
    ASSERT_TRUE(CArrayStore::Add(SLabArray{kUnmanaged, "array-lost", "", false, true}));
    for (const char* path : {kPath1, kPath2}) {
      SLabRelationship r;
      r.controlHostId = kArray;
      r.destPath = path;
      r.sourcePath = std::string("vs_prod:") + (strchr(path, ':') + 1);
      ASSERT_TRUE(CArrayRelationshipStore::Add(r));
    }
    ASSERT_TRUE(CArrayLunStore::Add(SLabLun{kArray, "vol_ds1", "vol_ds1/lun0", true, false}));
    ASSERT_TRUE(CArrayLunStore::Add(SLabLun{kArray, "vol_ds1", "vol_ds1/lun1", true, false}));
    ASSERT_TRUE(CArrayLunStore::Add(SLabLun{kArray, "vol_ds2", "vol_ds2/lun0", false, false}));
  }

  // An array object of a control host, connected as the data manager
  // connects it; false when the management entry is missing.
  static bool Connect(int controlHostId, ManageONTAP& array) {
    NASSnapUtil util;
    util.Initialize();
    _NASArrayInfo entry;
    if (!util.GetArrayNameAndCredentialsByControlHostId(controlHostId, entry)) return false;
    util.SetONTAPObject(entry, array, MONTAP_CONNECT_MANAGEMENT, false);
    array.OpenConnection();
    return true;
  }

  static std::vector<SArrayCall> Calls() {
    std::vector<SArrayCall> calls;
    EXPECT_EQ(EStoreResult::kOk, CArrayCallJournal::All(calls));
    return calls;
  }
  // "call result" of each journalled call, in order.
  static std::vector<std::string> CallLines() {
    std::vector<std::string> lines;
    for (const SArrayCall& c : Calls()) lines.push_back(c.call + " " + c.result);
    return lines;
  }

  static SLabRelationship Relationship(const std::string& path, int controlHostId = kArray) {
    SLabRelationship r;
    EXPECT_EQ(EStoreResult::kOk, CArrayRelationshipStore::Get(controlHostId, path, r)) << path;
    return r;
  }

  // A storage-array replication: VM "vm<id>" with GUID "guid-<id>", its
  // subclient (client 300 + id, application 400 + id), copy and datastores.
  static Api::SnapDRReplicationInfo Replication(int id, int subclientId = kSubclient, int copyId = kCopy) {
    using Info = Api::SnapDRReplicationInfo;
    Info info;
    info.SetInt32(Info::kReplicationId, id);
    info.SetString(Info::kSourceVMGuid, Guid(id));
    info.SetString(Info::kSourceVMName, "vm" + std::to_string(id));
    info.SetInt32(Info::kCopyId, copyId);
    CNMessageBase& source = info.MutableMsg(Info::kSourceEntity);
    source.SetInt32(ZnEntities::SubClientEntity::kSubclientId, subclientId);
    source.SetInt32(ZnEntities::SubClientEntity::kClientId, 300 + id);
    source.SetInt32(ZnEntities::SubClientEntity::kApplicationId, 400 + id);
    CNMessageBase& ds = info.AddMsg(Info::kDatastoreReplications);
    ds.MutableMsg(Api::DatastoreReplication::kSourceDatastore)
        .SetString(VirtualServer::VMDatastoreInfo::kDatastoreName, "ds1");
    ds.SetInt32(Api::DatastoreReplication::kReplicaGroupId, 7);
    ds.MutableMsg(Api::DatastoreReplication::kVolume).SetString(Api::SnapDRVolume::kVolumeName, "vol_ds1");
    return info;
  }
  static std::string Guid(int id) { return "guid-" + std::to_string(id); }
  static void AddReplication(int id, int group = kGroup, int subclientId = kSubclient, int copyId = kCopy) {
    ASSERT_TRUE(CSnapReplicationStore::Add(group, Replication(id, subclientId, copyId)));
  }

  static SSnapAfile Afile(int afileId) {
    SSnapAfile a;
    EXPECT_EQ(EStoreResult::kOk, CAfileStore::Get(afileId, a)) << "afile " << afileId;
    return a;
  }
};
