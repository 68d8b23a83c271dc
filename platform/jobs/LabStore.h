// The simulated management server's lab: users with their e-mail
// addresses, DR groups (stored as the XML of their Api::VirtualApp message),
// the mail outbox, and the knobs tests and the host use to steer the
// simulated services. Everything lives in the management database.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct SOutboxMail {
  long long id = 0;
  std::string recipient;
  std::string subject;
  std::string body;
  int userId = 0;
};

class CLabStore {
 public:
  // The tables the lab owns.
  static constexpr const char* kTables[] = {"PLT_Users", "PLT_DRGroups", "PLT_Outbox", "PLT_Knobs"};
  // Creates the lab's tables on the calling thread's database.
  static bool CreateTables();

  // Outcomes of the "DRApproval" workflow.
  static constexpr const char* kApprove = "approve";
  static constexpr const char* kDeny = "deny";
  // The workflow job cannot be started.
  static constexpr const char* kFailStart = "fail-start";

  // Users. An empty e-mail address means the user has none.
  static bool AddUser(int userId, const std::string& name, const std::string& email);
  static bool GetUserEmail(int userId, std::string& email);

  // DR groups: the XML of an Api::VirtualApp message under an id and a name.
  static bool PutDRGroup(int groupId, const std::string& name, const std::string& virtualAppXml);
  static bool GetDRGroup(int groupId, std::string& virtualAppXml);
  // 0 when no group has that name.
  static int FindDRGroup(const std::string& name);
  // Empty when there is no such group.
  static std::string DRGroupName(int groupId);
  // Every DR group, (id, name) by id; empty when none or unreadable.
  static std::vector<std::pair<int, std::string>> DRGroups();
  // Takes the replications out of every DR group that names them, in the
  // caller's write transaction when there is one: their entries go from
  // each priority, and a priority this leaves with no entry goes too; every
  // other field of a group stays as it was. A group that cannot be read is
  // left as it is (logged): no job can run on it. False (logged) when the
  // groups cannot be read or written.
  static bool RemoveReplicationsFromDRGroups(const std::vector<int>& replicationIds);

  // Outbox of the simulated mail service.
  static bool AddMail(const SOutboxMail& mail);
  static std::vector<SOutboxMail> Outbox();

  // Knobs: named texts. Absent reads as the default.
  static bool SetKnob(const std::string& name, const std::string& value);
  static bool ClearKnob(const std::string& name);
  static std::string GetKnob(const std::string& name, const std::string& def = std::string());
  static bool HasKnob(const std::string& name);
  // A knob holding a count above 0 goes down by one (in one statement, so
  // two processes never take the same one): true. Otherwise false.
  static bool TakeKnobCount(const std::string& name);

  // What the next "DRApproval" workflow decides: kApprove (default), kDeny
  // or kFailStart.
  static void SetApprovalOutcome(const std::string& outcome) { SetKnob("approval", outcome); }
  static std::string ApprovalOutcome() { return GetKnob("approval", kApprove); }
  // The job controller refuses to connect (Init2 fails).
  static void SetJobControllerDown(bool down) { down ? SetKnob("jobctrl.down", "1") : ClearKnob("jobctrl.down"); }
  // The management server's host name; set to "" to make the lookup fail.
  static void SetDromhallHostName(const std::string& name) { SetKnob("dromhall.host", name); }
};
