// A replica group: one storage-array volume relationship (a source volume
// mirrored to a destination volume) that replicated VMs' datastores live
// on, with the replications that use it and the state a DR job left its
// relationship in.
//
// The destination path ("vserver:volume") addresses the relationship on the
// array. Every path or volume update keeps it equal to the destination
// vserver, ":" and the destination volume, with two exceptions: a path
// without ":" is stored as it is (vserver and volume stay), and
// SetDestVServer changes the vserver alone, so reads keep addressing the
// relationship by the path the group was loaded with.
//
// Threads: the data manager fills a group under its snap lock before any
// worker sees it; afterwards one worker at a time acts on a group. Only the
// relationship status is written by a worker while another thread may read
// it, and it is atomic.
#pragma once

#include <atomic>
#include <set>
#include <string>

#include "array/SMReplicaGroupInfo.h"
#include "msg/MsgEnums.h"

class SSMReplicaGroup : public SMReplicaGroupInfo {
 public:
  SSMReplicaGroup();
  SSMReplicaGroup(int groupId, int copyId, int subclientId);
  SSMReplicaGroup(const SSMReplicaGroup& other);
  SSMReplicaGroup& operator=(const SSMReplicaGroup& other);

  // "vserver:volume": stored as the path; with at least two parts the first
  // two become vserver and volume (further parts are ignored), without ":"
  // vserver and volume stay as they were. A null path counts as empty.
  void setSourceVolume(const char* path);
  void setDestVolume(const char* path);
  // Replaces the destination volume and rebuilds the destination path.
  void updateDestVolume(const std::string& volume);
  void updateDestPath();
  // The vserver alone; the destination path is not rebuilt.
  void SetDestVServer(const std::string& vserver);

  void setTargetArray(const char* name);
  void setSourceArray(const char* name);
  void setSPId(int id) { m_spId = id; }
  void setDefaultSPCopyId(int id) { m_defaultSPCopyId = id; }
  void setPairId(int id) { m_pairId = id; }
  // Both set the destination control host id (the array number).
  void setDestCntrlHostId(int id) { m_destCntrlHostId = id; }
  void updateArrayNum(int id) { m_destCntrlHostId = id; }

  // 1 broken, 0 normal or re-synced; 8 is never written to the records.
  void SetRelationshipStatus(E_VOLUME_RELATIONSHIP_STATUS status);
  E_VOLUME_RELATIONSHIP_STATUS GetRelationshipStatus() const;

  std::string getSourceVolume() const { return m_sourceVolume; }
  std::string getSourceVServer() const { return m_sourceVServer; }
  std::string getSourcePath() const { return m_sourcePath; }
  std::string getSourceArray() const { return m_sourceArray; }
  std::string getDestVolume() const { return m_destVolume; }
  std::string getDestVServer() const { return m_destVServer; }
  std::string getDestPath() const { return m_destPath; }
  std::string getTargetArray() const { return m_targetArray; }
  int getCopyId() const { return m_copyId; }
  int getSubclientId() const { return m_subclientId; }
  int getSPId() const { return m_spId; }
  int getDefaultSPCopyId() const { return m_defaultSPCopyId; }
  int getPairId() const { return m_pairId; }
  int getDestCntrlHostId() const { return m_destCntrlHostId; }

  // The replications whose datastore volumes lie in this group.
  std::set<int>& ReplicationIds() { return m_replicationIds; }
  const std::set<int>& ReplicationIds() const { return m_replicationIds; }

 private:
  int m_copyId = 0;
  int m_spId = 0;
  int m_defaultSPCopyId = 0;
  int m_subclientId = 0;
  std::string m_targetArray;
  std::string m_sourceVolume;
  std::string m_destVolume;
  std::string m_sourceArray;
  std::string m_sourceVServer;
  std::string m_destVServer;
  std::string m_sourcePath;
  std::string m_destPath;
  int m_pairId = 0;
  int m_destCntrlHostId = 0;
  std::set<int> m_replicationIds;
  // Written by a DR worker, read by the context after the pool's wait.
  std::atomic<E_VOLUME_RELATIONSHIP_STATUS> m_relationshipStatus;
};
