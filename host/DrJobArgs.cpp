#include "DrJobArgs.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct STypeName {
  const char* name;
  TMMsg::DROrchestrationType type;
};

const STypeName kTypes[] = {
    {"planned-failover", TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER},
    {"failback", TMMsg::DR_ORCHESTRATION_FAILBACK},
    {"unplanned-failover", TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER},
    {"revert-failover", TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER},
    {"undo-failover", TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER},
    {"testboot", TMMsg::DR_ORCHESTRATION_TESTBOOT},
    {"point-in-time-failover", TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER},
    {"reverse-replication", TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION},
    {"cleanup-destination-vm", TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM},
    {"test-failover", TMMsg::DR_ORCHESTRATION_TEST_FAILOVER},
    {"undo-test-failover", TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER},
};

}  // namespace

std::string CDrJobArgs::Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    switch (c) {
      case '\n': out += "\\n"; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\\': out += "\\\\"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7f) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
      continue;
    }
    out += static_cast<char>(c);
  }
  return out;
}

std::string CDrJobArgs::CutName(const std::string& name) {
  if (name.size() <= kNameShown) return name;
  size_t end = kNameShown;
  // A UTF-8 character is not split: its continuation bytes go with it.
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end) + "...";
}

std::string CDrJobArgs::ShownName(const std::string& name) { return Printable(CutName(name)); }

std::string CDrJobArgs::ShownText(const std::string& text) {
  std::string cut;
  size_t at = 0;
  for (size_t open = text.find('['); open != std::string::npos; open = text.find('[', at)) {
    const size_t close = text.find(']', open + 1);
    if (close == std::string::npos) break;
    cut += text.substr(at, open + 1 - at) + CutName(text.substr(open + 1, close - open - 1)) + "]";
    at = close + 1;
  }
  return Printable(cut + text.substr(at));
}

std::string CDrJobArgs::ShellWord(const std::string& text) {
  if (text.empty()) return "''";
  bool plain = true;
  bool control = false;
  for (unsigned char c : text) {
    plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                      c == '.' || c == '_' || c == '-' || c == '+' || c == ':' || c == ',' || c == '=');
    control = control || c < 0x20 || c == 0x7f;
  }
  if (plain) return text;
  if (!control) {
    // Inside single quotes every byte stands for itself, a backslash too;
    // only the quote itself has to leave them.
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  }
  // A control character would break the line or steer the terminal: it is
  // written as the escape Printable makes of it (a backslash too), which
  // the shell's $'...' turns back into the byte; only a quote needs one
  // more.
  std::string quoted = "$'";
  for (char c : Printable(text)) quoted += c == '\'' ? std::string("\\'") : std::string(1, c);
  return quoted + "'";
}

bool CDrJobArgs::Fail(const std::string& error) {
  m_error = error;
  return false;
}

bool CDrJobArgs::Once(const std::string& option, const std::string& value) {
  const auto given = m_given.emplace(option, value);
  if (given.second) return true;
  // The last one would win unseen: --group A --group B would run on B.
  return Fail("option " + option + " is given twice ([" + given.first->second + "] and [" + value +
              "]), but takes one value");
}

bool CDrJobArgs::ParseId(const std::string& text, int64_t& id) {
  if (text.empty() || text.size() > 19) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  errno = 0;
  long long value = strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || value <= 0) return false;
  id = value;
  return true;
}

std::string CDrJobArgs::TypesText() {
  std::string text;
  for (const STypeName& t : kTypes) {
    text += (text.empty() ? "" : ", ") + std::string(t.name) + " (" + std::to_string(t.type) + ")";
  }
  return text;
}

const char* CDrJobArgs::TypeName(TMMsg::DROrchestrationType type) {
  for (const STypeName& t : kTypes) {
    if (t.type == type) return t.name;
  }
  return "unknown";
}

bool CDrJobArgs::ParseType(const std::string& text, TMMsg::DROrchestrationType& type) {
  int64_t number = 0;
  for (const STypeName& t : kTypes) {
    if (text == t.name || (ParseId(text, number) && number == t.type)) {
      type = t.type;
      return true;
    }
  }
  return false;
}

namespace {

bool IsDROption(const std::string& arg) {
  return arg == "--point-in-time" || arg == "--testboot-wait" || arg == "--keep-network-adapters" ||
         arg == "--no-power-on" || arg == "--restore-options";
}

// The DR types whose context reads each option: the point-in-time failover
// its points in time, the testboot its wait and adapters, the failback and
// the reverse replication (its restore) the restore options and, when they
// build their own, the power-on. Any other type would run as if the option
// had not been given.
struct SOptionTypes {
  const char* option;
  TMMsg::DROrchestrationType types[2];
};

const SOptionTypes kOptionTypes[] = {
    {"--point-in-time", {TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER, TMMsg::DR_ORCHESTRATION_NONE}},
    {"--testboot-wait", {TMMsg::DR_ORCHESTRATION_TESTBOOT, TMMsg::DR_ORCHESTRATION_NONE}},
    {"--keep-network-adapters", {TMMsg::DR_ORCHESTRATION_TESTBOOT, TMMsg::DR_ORCHESTRATION_NONE}},
    {"--no-power-on", {TMMsg::DR_ORCHESTRATION_FAILBACK, TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION}},
    {"--restore-options", {TMMsg::DR_ORCHESTRATION_FAILBACK, TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION}},
};

bool Given(const SRunDROptions& options, const std::string& option) {
  if (option == "--point-in-time") return !options.pointsInTime.empty();
  if (option == "--testboot-wait") return options.testbootWaitMinutes >= 0;
  if (option == "--keep-network-adapters") return options.keepNetworkAdapters;
  if (option == "--no-power-on") return options.noPowerOn;
  return !options.restoreOptionsFile.empty();
}

// The first option given that the type does not read, with the types that
// do; empty when there is none.
std::string UnreadOption(TMMsg::DROrchestrationType type, const SRunDROptions& options) {
  for (const SOptionTypes& entry : kOptionTypes) {
    if (!Given(options, entry.option) || type == entry.types[0] || type == entry.types[1]) continue;
    std::string text = std::string(entry.option) + " goes only with --type " + CDrJobArgs::TypeName(entry.types[0]);
    if (entry.types[1] != TMMsg::DR_ORCHESTRATION_NONE) text += std::string(" or ") + CDrJobArgs::TypeName(entry.types[1]);
    return text;
  }
  return std::string();
}

}  // namespace

bool CDrJobArgs::ParseDROption(int argc, char** argv, int& i) {
  const std::string arg = argv[i];
  if (arg == "--keep-network-adapters") {
    m_drOptions.keepNetworkAdapters = true;
    return true;
  }
  if (arg == "--no-power-on") {
    m_drOptions.noPowerOn = true;
    return true;
  }
  if (i + 1 >= argc) return Fail("option " + arg + " needs a value");
  const std::string value = argv[++i];
  // Each --point-in-time names a replication of its own.
  if (arg != "--point-in-time" && !Once(arg, value)) return false;
  if (arg == "--point-in-time") {
    const size_t eq = value.find('=');
    int64_t replication = 0, time = 0;
    if (eq == std::string::npos || !ParseId(value.substr(0, eq), replication) || replication > 0x7fffffff ||
        !ParseId(value.substr(eq + 1), time)) {
      return Fail("--point-in-time needs REPLICATION=TIME with positive numbers, not [" + value + "]");
    }
    for (const auto& point : m_drOptions.pointsInTime) {
      if (point.first == replication) {
        return Fail("--point-in-time names replication [" + std::to_string(replication) +
                    "] twice; a replication takes one point in time");
      }
    }
    m_drOptions.pointsInTime.emplace_back(static_cast<int>(replication), static_cast<uint64_t>(time));
  } else if (arg == "--testboot-wait") {
    bool digits = !value.empty();
    for (char c : value) digits = digits && c >= '0' && c <= '9';
    if (!digits) return Fail("--testboot-wait needs minutes, not [" + value + "]");
    int64_t minutes = 0;
    if ((value.find_first_not_of('0') != std::string::npos && !ParseId(value, minutes)) ||
        minutes > kMaxTestbootWaitMinutes) {
      return Fail("--testboot-wait takes at most [" + std::to_string(kMaxTestbootWaitMinutes) +
                  "] minutes, the longest wait the testboot step can hold, not [" + value + "]");
    }
    m_drOptions.testbootWaitMinutes = minutes;
  } else {
    if (value.empty()) return Fail("--restore-options needs a file");
    m_drOptions.restoreOptionsFile = value;
  }
  return true;
}

bool CDrJobArgs::Parse(int argc, char** argv) {
  if (argc < 2) return Fail("no command given (seed, run, control, jobs, job, tasks or lab)");
  std::string command = argv[1];
  m_help = command == "--help";
  if (m_help) return true;
  if (command == "seed") {
    m_command = kSeed;
  } else if (command == "run") {
    m_command = kRun;
  } else if (command == "control") {
    m_command = kControl;
  } else if (command == "jobs") {
    m_command = kJobs;
  } else if (command == "job") {
    m_command = kJob;
  } else if (command == "tasks") {
    m_command = kTasks;
  } else if (command == "lab") {
    m_command = kLab;
  } else {
    return Fail("unknown command [" + command + "]");
  }

  // Whatever else stands there, --help asks for this command's usage.
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--help") {
      m_help = true;
      return true;
    }
  }
  bool haveJob = false;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    bool takesValue = arg == "--db" || arg == "--group" || arg == "--type" || arg == "--job-id" || arg == "--job";
    if (takesValue && i + 1 >= argc) return Fail("option " + arg + " needs a value");
    if (arg == "--db") {
      if (!Once(arg, argv[i + 1])) return false;
      m_dbPath = argv[++i];
      if (m_dbPath.empty()) return Fail("--db needs a path");
    } else if (arg == "--replace" && m_command == kSeed) {
      m_replace = true;
    } else if (arg == "--group" && m_command == kRun) {
      if (!Once(arg, argv[i + 1])) return false;
      m_group = argv[++i];
      if (m_group.empty()) return Fail("--group needs a name or an id");
    } else if (arg == "--delete-from-hypervisor" && m_command == kRun) {
      m_deleteFromHypervisor = true;
    } else if (arg == "--type" && m_command == kRun) {
      if (!Once(arg, argv[i + 1])) return false;
      std::string value = argv[++i];
      if (!ParseType(value, m_type)) return Fail("unknown DR type [" + value + "]; the DR types are " + TypesText());
    } else if ((arg == "--job-id" && m_command == kRun) ||
               (arg == "--job" && (m_command == kControl || m_command == kJob || m_command == kJobs))) {
      if (!Once(arg, argv[i + 1])) return false;
      std::string value = argv[++i];
      if (!ParseId(value, m_jobId)) return Fail("bad job id [" + value + "]");
      haveJob = true;
    } else if (m_command == kRun && IsDROption(arg)) {
      if (!ParseDROption(argc, argv, i)) return false;
    } else if (m_command == kControl && (arg == "kill" || arg == "suspend") && m_operation.empty()) {
      m_operation = arg;
    } else if (m_command == kJob && m_operation.empty() &&
               (arg == "complete" || arg == "fail" || arg == "hang" || arg == "resume" || arg == "kill")) {
      m_operation = arg;
    } else if (m_command == kJob && m_operation.empty() && arg == "percent") {
      m_operation = arg;
      int64_t percent = 0;
      const std::string value = i + 1 < argc ? argv[++i] : std::string();
      if (value != "0" && (!ParseId(value, percent) || percent > 99)) {
        return Fail("percent needs a number from 0 to 99, not [" + value + "]");
      }
      m_percent = static_cast<int>(percent);
    } else if (m_command == kLab && m_operation.empty() && (arg == "show" || arg == "release")) {
      m_operation = arg;
    } else if (m_command == kLab && m_operation.empty() && (arg == "down" || arg == "up")) {
      m_operation = arg;
      m_name = i + 1 < argc ? argv[++i] : std::string();
      if (m_name.empty()) return Fail("lab " + arg + " needs the name of an instance or a proxy");
    } else if (m_command == kLab && m_operation.empty() && arg == "write") {
      m_operation = arg;
      m_name = i + 1 < argc ? argv[++i] : std::string();
      if (m_name.empty()) return Fail("lab write needs the name of a VM");
    } else {
      return Fail("unexpected argument [" + arg + "] for " + command);
    }
  }
  if (m_dbPath.empty()) return Fail(command + " needs --db PATH");
  if (m_command == kRun) {
    // A rerun of a job takes the group and type its record holds; whether
    // the record is there is known only once the lab is open.
    if (m_group.empty() && !haveJob) return Fail("run needs --group NAME|ID");
    if (m_type == TMMsg::DR_ORCHESTRATION_NONE && !haveJob) return Fail("run needs --type TYPE");
    if (m_deleteFromHypervisor && m_type != TMMsg::DR_ORCHESTRATION_NONE &&
        m_type != TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM) {
      return Fail("--delete-from-hypervisor goes only with --type cleanup-destination-vm");
    }
    const std::string unread = m_type != TMMsg::DR_ORCHESTRATION_NONE ? UnreadOption(m_type, m_drOptions) : "";
    if (!unread.empty()) return Fail(unread);
    if (m_drOptions.noPowerOn && !m_drOptions.restoreOptionsFile.empty()) {
      return Fail("--no-power-on is not read with --restore-options: the restore options say whether the VMs "
                  "power on");
    }
  }
  if (m_command == kControl) {
    if (!haveJob) return Fail("control needs --job N");
    if (m_operation.empty()) return Fail("control needs kill or suspend");
  }
  if (m_command == kLab && m_operation.empty()) m_operation = "show";
  if (m_command == kJob) {
    if (!haveJob) return Fail("job needs --job N");
    if (m_operation.empty()) return Fail("job needs complete, fail, hang, resume, kill or percent P");
  }
  return true;
}
