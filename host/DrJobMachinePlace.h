// Where a machine of a DR group stands now, as the lab holds it: its
// replication's failover status and, for a VM replication, whether its
// source and DR VMs run, so which of them runs its workload. What drjob
// tells of a machine a job left unfinished, so the operator knows where its
// workload runs before deciding how to go on.
#pragma once

#include <string>
#include <unordered_map>

// Where a machine stands, both ways a job's end tells it, from one read of
// its replication. A replication a clean-up removed is "no replication
// record" both ways.
struct SMachineStanding {
  // "failover status [Failover Failed], source VM [db-primary] on, DR VM
  // [db-primary-DR] off: the source VM runs" ("the DR VM runs", "both VMs
  // run", "neither VM runs"); a database machine tells its databases the
  // same way from the lab's database hosts ("source database [src1]
  // stopped, DR database [dst1] running: the DR database runs"), a
  // storage-array machine its statuses alone. A test failover status the
  // replication keeps follows the failover status.
  std::string now;
  // "failover status [Failover Failed], sync status [Sync Failed]" (a kind
  // that keeps no sync status: the failover status alone).
  std::string statuses;
};

class CMachinePlace {
 public:
  static SMachineStanding Read(int replicationId);
};

// The machines of one job's end, each read once however many of its lines
// tell where it stands: a job of thousands of machines reads each
// replication once.
class CMachineStandings {
 public:
  const SMachineStanding& Of(int replicationId);

 private:
  std::unordered_map<int, SMachineStanding> m_read;
};
