// What the hypervisor lab's sources share (not for other areas: they use
// CHypervisorLab).
#pragma once

#include <string>

#include "jobsim/JobSimulator.h"
#include "msg/MsgClasses.h"
#include "vm/LabModel.h"

namespace hvlab {

// The VmOperation handler.
int PerformOperation(TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request, Ida::VMOpResp& response,
                     int timeSeconds, bool retry);

// A VM as a proxy describes it.
void DescribeVM(const SLabVM& vm, const std::string& instanceHost, Ida::VirtualMachine& out);

// The services beside the VM operations.
void RegisterServices();
// The job effects (end writers).
void RegisterJobEffects();

// Hangs: a hung call waits for the release counter to move past `mark`
// (any process) or for its time to run out on the scaled clock. True when
// released. The caller reads the mark before it reads the planted faults:
// a release that clears a hang between that read and the wait still ends it.
bool WaitForRelease(long long mark, long long timeMs);
void WakeHungCalls();
// The tests' seam between the two reads (CHypervisorLab::SetReleaseMarkSeam).
void SetReleaseMarkSeam(void (*seam)());
// Calls of this process hung now.
int HungCalls();

// Names among the lab's counters: hang releases, member-server queries.
extern const char* const kReleaseCounter;
extern const char* const kMemberServerCounter;

// Replaces the VM's "__OB_BACKUP__" snapshots with one of its state now.
bool RenewBackupSnapshot(const SLabVM& vm);
// A new snapshot reference, unique in the lab ("" on failure).
std::string NewSnapshotRef();

}  // namespace hvlab
