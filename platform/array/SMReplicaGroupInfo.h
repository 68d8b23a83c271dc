// The storage-array management library's replica group: one volume
// relationship, known by its group id. The system's replica group
// (SSMReplicaGroup, app/) derives from it and adds what a DR job needs.
#pragma once

class SMReplicaGroupInfo {
 public:
  SMReplicaGroupInfo() = default;
  explicit SMReplicaGroupInfo(int replicaGroupId) : m_replicaGroupId(replicaGroupId) {}

  int getReplicaGroupId() const { return m_replicaGroupId; }
  void setReplicaGroupId(int id) { m_replicaGroupId = id; }

 private:
  int m_replicaGroupId = 0;
};
