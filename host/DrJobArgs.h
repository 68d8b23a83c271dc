// Command line of drjob: which command, and its options, checked before any
// work starts so bad input gives one clear error line.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "msg/MsgEnums.h"

// What run stores in the job's DR orchestration options. Each member's
// default stands for "not given".
struct SRunDROptions {
  // --point-in-time REPL=T, in the order given.
  std::vector<std::pair<int, uint64_t>> pointsInTime;
  int64_t testbootWaitMinutes = -1;  // --testboot-wait MIN; -1 not given
  bool keepNetworkAdapters = false;  // --keep-network-adapters
  bool noPowerOn = false;            // --no-power-on
  std::string restoreOptionsFile;    // --restore-options FILE
};

class CDrJobArgs {
 public:
  enum ECommand { kNone, kSeed, kRun, kControl, kJobs, kJob, kTasks, kLab };

  // The testboot step waits its minutes through the job manager's Wait,
  // which takes an int of milliseconds: a longer wait would be cut short
  // there, so it is refused here.
  static constexpr int64_t kMaxTestbootWaitMinutes = INT32_MAX / 60000;

  // False with the reason in Error(); Command() then still names the
  // command when it was known.
  bool Parse(int argc, char** argv);

  ECommand Command() const { return m_command; }
  // --help was given: the usage (of the command, when one was named) is
  // all that is asked for.
  bool Help() const { return m_help; }
  // seed: replace a lab that is there.
  bool Replace() const { return m_replace; }
  const std::string& DbPath() const { return m_dbPath; }
  // Empty when not given (a rerun takes the recorded one).
  const std::string& Group() const { return m_group; }
  // DR_ORCHESTRATION_NONE when not given (a rerun takes the recorded one).
  TMMsg::DROrchestrationType Type() const { return m_type; }
  int64_t JobId() const { return m_jobId; }
  // run --type cleanup-destination-vm: delete the DR VMs too.
  bool DeleteFromHypervisor() const { return m_deleteFromHypervisor; }
  // control: "kill" or "suspend"; job: "complete", "fail", "hang", "resume",
  // "kill" or "percent"; lab: "show" (the default), "down", "up",
  // "write" or "release".
  const std::string& Operation() const { return m_operation; }
  // lab down and up: the instance or proxy; lab write: the VM.
  const std::string& Name() const { return m_name; }
  // job percent: 0 to 99.
  int Percent() const { return m_percent; }
  const std::string& Error() const { return m_error; }
  // run: the DR options given.
  const SRunDROptions& DROptions() const { return m_drOptions; }

  // A DR type from its number or its name ("planned-failover", ...), and
  // the name of a type ("unknown" for one run does not take).
  static bool ParseType(const std::string& text, TMMsg::DROrchestrationType& type);
  static const char* TypeName(TMMsg::DROrchestrationType type);
  // Every type run takes, "planned-failover (1), failback (2), ...".
  static std::string TypesText();
  // A positive decimal 64-bit number, nothing else.
  static bool ParseId(const std::string& text, int64_t& id);

  // Text a user gave, fit to stand inside one line of output: control
  // characters and DEL become escapes (\n, \t, \r, \\, \xHH), so a name
  // echoed in an error cannot break the line or steer the terminal.
  static std::string Printable(const std::string& text);
  // A name of the lab (a group's, a machine's, a VM's, a client's) as a line
  // shows it: its first kNameShown bytes (never half a character), then
  // "...", when it is longer, so that a name of thousands of characters
  // cannot bury the line; CutName leaves the text as it is, ShownName makes
  // it Printable too.
  static const size_t kNameShown = 512;
  static std::string CutName(const std::string& name);
  static std::string ShownName(const std::string& name);
  // An engine's text that names things in brackets ("VM [NAME]"): each
  // bracketed part cut as a name is, the whole Printable.
  static std::string ShownText(const std::string& text);
  // A word a shell reads back as exactly the text's bytes: as it is when it
  // holds only safe characters, else in single quotes; text with a control
  // character (a newline, a tab, ...) as $'...' with each such byte, a
  // backslash and a quote escaped, which bash, ksh and zsh read (and POSIX
  // sh since its 2024 edition), so the word stays on its line.
  static std::string ShellWord(const std::string& text);

 private:
  bool Fail(const std::string& error);
  // The first time the option is given (its value kept); false with the
  // error the second time: an option of one value is never given twice.
  bool Once(const std::string& option, const std::string& value);
  // A DR option of run at argv[i] (its value taken); false with the error.
  bool ParseDROption(int argc, char** argv, int& i);

  ECommand m_command = kNone;
  bool m_help = false;
  bool m_replace = false;
  std::string m_dbPath;
  std::string m_group;
  TMMsg::DROrchestrationType m_type = TMMsg::DR_ORCHESTRATION_NONE;
  int64_t m_jobId = 0;
  bool m_deleteFromHypervisor = false;
  std::string m_operation;
  std::string m_name;
  int m_percent = -1;
  SRunDROptions m_drOptions;
  std::string m_error;
  // The value options given so far, with their values.
  std::map<std::string, std::string> m_given;
};
