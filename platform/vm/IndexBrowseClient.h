// The indexing browse client: browses what the backups of a subclient hold,
// answered from the hypervisor lab.
//
// - Mode 4 lists the subclient's VMs backed up by its newest backup that
//   ended at or before the request's to-time (0: the newest): one entry per
//   VM, named by its (source) GUID, with its path and the VM's index
//   metadata (fields 1, 2, 3, 4, 17, 23 and 34; 23 a serialized
//   IdxMetadata::VMNetworks of its networks). The VM described is the one
//   backed up: the DR VM when the replication has one, else the source VM.
//   The lab keeps one backup end time per VM (its client's last backup), so
//   a VM whose last backup ended after the to-time is not listed.
// - Mode 6 lists the files of the VM at the path: one "<name>-disk-<n>.vmdk"
//   per disk and its "<name>.vmx", each with index metadata field 2 (the
//   VM's first datastore).
// - A stored fault fails the next n full browses (mode 4); another makes the
//   networks (field 23) of one VM's entries a text that does not parse.
//
// Every client counts itself while it lives (Live), so a test can see that
// no caller keeps one.
// Threads: any; each client is used by one thread.
#pragma once

#include <atomic>
#include <string>

#include "msg/MsgClasses.h"

class CIndexBrowseClient {
 public:
  CIndexBrowseClient();
  ~CIndexBrowseClient();
  CIndexBrowseClient(const CIndexBrowseClient&) = delete;
  CIndexBrowseClient& operator=(const CIndexBrowseClient&) = delete;

  // 0 when the request names a subclient and a browse mode; the session and
  // the two callbacks are not used.
  int Initialize(const databrowse::BrowseRequest& request, void* session, int timeoutSeconds, void* progress,
                 void* cancel);
  // 0 with the answers; non-zero when not initialised, the browse fails or
  // the mode is not one the lab answers.
  int Browse(void* reserved, databrowse::BrowseResponseList& response);

  // Clients alive in this process.
  static long Live();
  // Fails the next count full browses (stored; 0 clears).
  static bool FailFullBrowses(int count);
  // The entries of the VM of that source GUID carry networks metadata cut
  // short, as a damaged index answers it (stored; empty clears).
  static bool MalformNetworksOf(const std::string& sourceGuid);

  static constexpr int kModeVMs = 4;
  static constexpr int kModeFiles = 6;

 private:
  bool m_initialised = false;
  databrowse::BrowseRequest m_request;
  static std::atomic<long> s_live;
};
