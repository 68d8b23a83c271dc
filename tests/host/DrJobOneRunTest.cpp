// One run per DR job whatever the path to the database or the lock folder:
// the run lease in the job's row turns away a second run that the lock file
// cannot see, a run killed outright leaves the lease to be taken over, and
// control says when no process runs the job. Also the lock folder's rules
// as drjob meets them.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "JobTestSupport.h"
#include "TestSupport.h"
#include "host/DrJobTestSupport.h"
#include "jobs/JobStore.h"

namespace {

using drtest::Has;
using drtest::SResult;

// What keeps a user with no group but its own from running the program at
// the path: the first folder on its way the user cannot enter, or the
// program itself when the user may not run it; empty when nothing does.
std::string ClosedTo(const std::string& program, uid_t uid, gid_t gid) {
  char* real = realpath(program.c_str(), nullptr);
  const std::string path = real != nullptr ? real : program;
  free(real);
  // Entering a folder and running a program take the same bit: the
  // owner's, the group's or the others', whichever class the user is in.
  const auto closed = [uid, gid](const std::string& name) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0) return true;
    const mode_t bit = st.st_uid == uid ? S_IXUSR : st.st_gid == gid ? S_IXGRP : S_IXOTH;
    return (st.st_mode & bit) == 0;
  };
  for (size_t slash = 0; slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    if (closed(folder)) return folder;
  }
  return closed(path) ? path : std::string();
}

class E2EDrJobOneRun : public drtest::CDrJobLabTest {
 protected:
  // A run in the background at the real time scale: the sample group waits
  // a minute between its priorities, so it holds its job until it is
  // killed. Returns once it reports progress: it holds its job and its job
  // manager has counted the attempt.
  void StartHeldRun(drtest::CChildProcess& run, const std::string& db, long long jobId,
                    std::string* firstLine = nullptr) {
    std::vector<std::string> argv = {"/usr/bin/env", "DR_RUN_DIR=" + m_dir + "/run", "DR_LOCK_DIR=" + m_dir + "/locks",
                                     "DR_TIME_SCALE=1", DR_DRJOB, "run", "--db", db, "--group", "Sample", "--type",
                                     "planned-failover"};
    if (jobId > 0) {
      argv.push_back("--job-id");
      argv.push_back(std::to_string(jobId));
    }
    ASSERT_TRUE(run.Start(argv));
    std::string line;
    while (run.ReadLine(line)) {
      if (firstLine != nullptr && firstLine->empty()) *firstLine = line;
      if (line.find("] progress [") != std::string::npos) return;
    }
    FAIL() << "the background run never started";
  }

  // drjob with the lab's environment and what env adds or overrides, run
  // from the folder `from`.
  static SResult Shell(const std::string& from, const std::string& env, const std::string& args,
                       const std::string& runDir) {
    return drtest::RunShell("cd '" + from + "' && " + drtest::HostEnvironment(runDir) + env + " " + DR_DRJOB + " " +
                            args + " 2>&1");
  }

  static std::string Running(long long jobId, const SProcessId& holder) {
    return "drjob: DR job [" + std::to_string(jobId) + "] is already running in another process (" +
           CProcessIdentity::Text(holder) + "); nothing was changed\n";
  }
};

TEST_F(E2EDrJobOneRun, ASecondRunThroughAnyPathOrLockFolderIsRefusedAndAKilledRunIsTakenOver) {
  const long long jobId = 71;
  const std::string hard = m_dir + "/hard.db";
  const std::string soft = m_dir + "/soft.db";
  ASSERT_EQ(0, symlink(m_db.c_str(), soft.c_str())) << strerror(errno);
  drtest::CChildProcess first;
  StartHeldRun(first, m_db, jobId);
  const SProcessId holder = CProcessIdentity::Of(first.Pid());
  ASSERT_FALSE(holder.Empty());
  EXPECT_EQ(holder, Job(jobId).runner);

  const std::string anyone =
      "drjob: DR job [71] is already running in another process; nothing was changed\n";
  const std::string hardLinked = "drjob: [" + hard +
                                 "] has [2] hard links: processes that opened it by different names would split and "
                                 "damage it, so drjob uses only a database with one name\n";
  struct SCase {
    const char* what;
    std::string from;
    std::string env;
    std::string db;
    int code;
    std::string output;
    // The case needs a second name for the file, made just before it.
    bool hardLink;
  };
  const SCase cases[] = {
      // The lock file, named by the file whatever the path, turns these away.
      {"the same path", m_dir, "", m_db, 3, Running(jobId, holder), false},
      {"a symbolic link", m_dir, "", soft, 3, Running(jobId, holder), false},
      {"a relative path", m_dir + "/run", "", "../lab.db", 3, Running(jobId, holder), false},
      // The run lease in the job's row turns these away.
      {"another lock folder", m_dir, "DR_LOCK_DIR='" + m_dir + "/locks2'", m_db, 3, Running(jobId, holder), false},
      {"a symbolic link and another lock folder", m_dir, "DR_LOCK_DIR='" + m_dir + "/locks3'", soft, 3,
       Running(jobId, holder), false},
      // A file with a second name is not opened at all (SQLite would keep a
      // journal of its own for each name): the lock file still says the job
      // runs, else the name is refused.
      {"a hard link", m_dir, "", hard, 3, anyone, true},
      {"a hard link and another lock folder", m_dir, "DR_LOCK_DIR='" + m_dir + "/locks3'", hard, 4, hardLinked, true},
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.hardLink && access(hard.c_str(), F_OK) != 0) {
      ASSERT_EQ(0, link(m_db.c_str(), hard.c_str())) << strerror(errno);
    }
    const SResult second =
        Shell(c.from, c.env, "run --db " + c.db + " --group Sample --type planned-failover --job-id 71", m_dir);
    EXPECT_EQ(c.code, second.code) << second.output;
    EXPECT_EQ(c.output, second.output);
  }
  EXPECT_FALSE(drtest::HasSiblings(hard)) << "nothing opened the hard link";
  ASSERT_EQ(0, unlink(hard.c_str()));
  // Nothing the refused runs did shows: no attempt counted, the lease and the
  // state the first run's.
  SJobRecord job = Job(jobId);
  EXPECT_EQ("2", job.restartString);
  EXPECT_EQ("Running", job.status);
  EXPECT_EQ(0, job.controlOp);
  EXPECT_EQ(holder, job.runner);

  first.Kill();
  first.Wait();
  // Nobody runs it now: control says so and asks nothing.
  const SResult control = Host("control --db " + soft + " --job 71 kill");
  EXPECT_EQ(16, control.code) << control.output;
  EXPECT_EQ("drjob: no process runs DR job [71] (its record says [Running]); nothing to kill\n", control.output);
  EXPECT_EQ(0, Job(jobId).controlOp);

  // The next run, through another path and lock folder, takes the dead
  // run's lease over as the second attempt and gives it back at its end.
  const SResult again = Shell(m_dir, "DR_LOCK_DIR='" + m_dir + "/locks2'",
                              "run --db " + soft + " --group Sample --type planned-failover --job-id 71", m_dir);
  EXPECT_EQ(0, again.code) << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [71] was left running by a run that ended without finishing; this run takes "
                         "it over"))
      << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [71] ran before: this run is a restart, attempt [2]")) << again.output;
  job = Job(jobId);
  EXPECT_EQ("Completed", job.status);
  EXPECT_EQ("3", job.restartString);
  EXPECT_TRUE(job.runner.Empty());
}

TEST_F(E2EDrJobOneRun, ARunWithoutAJobIdHoldsTheJobItMakesFromTheStart) {
  drtest::CChildProcess first;
  std::string line;
  StartHeldRun(first, m_db, 0, &line);
  long long jobId = 0;
  ASSERT_EQ(1, sscanf(line.c_str(), "drjob: DR job [%lld]", &jobId)) << line;
  EXPECT_EQ(CProcessIdentity::Of(first.Pid()), Job(jobId).runner);
  ASSERT_EQ(1u, drtest::AllJobs().size());

  const std::string link = m_dir + "/link.db";
  ASSERT_EQ(0, symlink(m_db.c_str(), link.c_str()));
  const SResult second = Shell(m_dir, "DR_LOCK_DIR='" + m_dir + "/locks2'",
                               "run --db " + link + " --group Sample --type planned-failover --job-id " +
                                   std::to_string(jobId),
                               m_dir);
  EXPECT_EQ(3, second.code) << second.output;
  EXPECT_EQ(Running(jobId, CProcessIdentity::Of(first.Pid())), second.output);
  EXPECT_EQ(1u, drtest::AllJobs().size());
}

TEST_F(E2EDrJobOneRun, RunsOfANewJobStartedTogetherRunItOnce) {
  const std::string soft = m_dir + "/soft.db";
  ASSERT_EQ(0, symlink(m_db.c_str(), soft.c_str()));
  // Through two paths and three lock folders, so that only the job's row
  // tells some of them apart; the job does not exist before.
  const std::vector<std::pair<std::string, std::string>> ways = {
      {m_db, m_dir + "/locks"}, {soft, m_dir + "/locks"}, {m_db, m_dir + "/locks2"}, {soft, m_dir + "/locks3"}};
  std::vector<drtest::CChildProcess> runs(ways.size());
  for (size_t i = 0; i < ways.size(); ++i) {
    // Through a shell that becomes the run, for its error lines as well.
    ASSERT_TRUE(runs[i].Start({"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh", "/usr/bin/env",
                               "DR_RUN_DIR=" + m_dir + "/run", "DR_LOCK_DIR=" + ways[i].second,
                               "DR_TIME_SCALE=1", DR_DRJOB, "run", "--db", ways[i].first, "--group", "Sample", "--type",
                               "planned-failover", "--job-id", "90"}));
  }
  int running = 0;
  int refused = 0;
  for (drtest::CChildProcess& run : runs) {
    std::string line, output;
    bool progress = false;
    while (!progress && run.ReadLine(line)) {
      output += line + "\n";
      progress = line.find("] progress [") != std::string::npos;
    }
    if (progress) {
      // Left running until every other run has ended: a run that started
      // late must still meet it.
      ++running;
      EXPECT_EQ(CProcessIdentity::Of(run.Pid()), Job(90).runner);
    } else {
      const int status = run.Wait();
      EXPECT_EQ(3, WIFEXITED(status) ? WEXITSTATUS(status) : -1) << output;
      EXPECT_NE(std::string::npos, output.find("drjob: DR job [90] is already running in another process"))
          << output;
      ++refused;
    }
  }
  for (drtest::CChildProcess& run : runs) run.Kill();
  EXPECT_EQ(1, running);
  EXPECT_EQ(3, refused);
  EXPECT_EQ(1u, drtest::AllJobs().size());
  EXPECT_EQ("2", drtest::RestartString(90)) << "one attempt only";
}

// The lock folder drjob run is given: only a real folder of this user that
// nobody else can write is used; anything else is its own line and exit
// code, before the lab is touched.
TEST_F(E2EDrJobOneRun, ALockFolderThatCannotBeUsedIsRefusedWithItsOwnLine) {
  const std::string target = m_dir + "/target";
  ASSERT_EQ(0, mkdir(target.c_str(), 0700));
  const std::string link = m_dir + "/link";
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
  const std::string open = m_dir + "/open";
  ASSERT_EQ(0, mkdir(open.c_str(), 0700));
  ASSERT_EQ(0, chmod(open.c_str(), 0777));
  const std::string file = m_dir + "/file";
  FILE* f = fopen(file.c_str(), "w");
  ASSERT_NE(nullptr, f);
  fclose(f);
  // A folder of another user: made and handed over when this process may,
  // else the root folder, which is root's.
  std::string foreign = "/";
  uid_t owner = 0;
  if (geteuid() == 0) {
    foreign = m_dir + "/foreign";
    owner = 65534;
    ASSERT_EQ(0, mkdir(foreign.c_str(), 0700));
    ASSERT_EQ(0, chown(foreign.c_str(), owner, owner)) << strerror(errno);
  }
  ASSERT_NE(geteuid(), owner) << "no folder of another user to plant";

  const std::pair<std::string, std::string> cases[] = {
      {link, "the lock folder [" + link + "] is a link; only a real folder is used"},
      {foreign, "the lock folder [" + foreign + "] belongs to user " + std::to_string(owner) + ", not to user " +
                    std::to_string(geteuid())},
      {open, "the lock folder [" + open + "] can be written by others (mode 777)"},
      {file, "the lock folder [" + file + "] is not a folder"},
      {file + "/locks", "cannot create the lock folder [" + file + "/locks]: Not a directory"},
      // A link above the folder, present or on the way to missing parents:
      // nothing is made through it.
      {link + "/locks", "the lock folder [" + link + "/locks] lies below a link [" + link +
                            "]; only a path of real folders is used"},
      {link + "/missing/parents/locks", "the lock folder [" + link + "/missing/parents/locks] lies below a link [" +
                                            link + "]; only a path of real folders is used"},
      {m_dir + "/open/../link/locks", "the lock folder [" + m_dir + "/open/../link/locks] lies below a link [" +
                                          m_dir + "/open/../link]; only a path of real folders is used"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    const SResult r = Shell(m_dir, "DR_LOCK_DIR='" + c.first + "'",
                            "run --db " + m_db + " --group Sample --type planned-failover --job-id 5", m_dir);
    EXPECT_EQ(15, r.code) << r.output;
    EXPECT_EQ("drjob: " + c.second + "; nothing was changed\n", r.output);
  }
  EXPECT_TRUE(drtest::AllJobs().empty());
  // Nothing was made through the link.
  EXPECT_EQ("", drtest::RunShell("ls -A '" + target + "'").output);

  // Missing parents are made on the way, the lock folder itself private,
  // before anything else is looked at.
  const std::string deep = m_dir + "/made/on/the/way/locks";
  const SResult made = Shell(m_dir, "DR_LOCK_DIR='" + deep + "'",
                             "run --db " + m_db + " --group Nowhere --type planned-failover --job-id 6", m_dir);
  EXPECT_EQ(5, made.code) << made.output;
  struct stat deepStat;
  ASSERT_EQ(0, lstat(deep.c_str(), &deepStat));
  EXPECT_TRUE(S_ISDIR(deepStat.st_mode));
  EXPECT_EQ(0700u, deepStat.st_mode & 07777);

  // Without DR_LOCK_DIR, the user's own folder, made private.
  const SResult own = drtest::RunShell("env -u DR_LOCK_DIR DR_RUN_DIR='" + m_dir + "/run' DR_TIME_SCALE=0.001 " +
                                       DR_DRJOB + " run --db " + m_db + " --group Sample --type 1 2>&1");
  EXPECT_EQ(0, own.code) << own.output;
  struct stat st;
  const std::string folder = "/tmp/drorch-locks-" + std::to_string(geteuid());
  ASSERT_EQ(0, lstat(folder.c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(geteuid(), st.st_uid);
  EXPECT_EQ(0u, st.st_mode & 077) << std::oct << st.st_mode;
}

// The default lock folder is one name per user in the shared temporary
// folder: another user can make it first. The refusal then says how to run
// anyway. Played with a user id no test uses, whose default folder root makes
// first.
TEST_F(E2EDrJobOneRun, ADefaultLockFolderTakenByAnotherUserPointsToDrLockDir) {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
  const uid_t other = 65533;
  // A checkout in a folder closed to other users (root's home folder, 0700
  // on Debian) leaves the other user no drjob to run.
  const std::string closed = ClosedTo(DR_DRJOB, other, other);
  if (!closed.empty()) {
    GTEST_SKIP() << "user " << other << " cannot run " << DR_DRJOB << ": [" << closed
                 << "] is closed to other users";
  }
  const std::string taken = "/tmp/drorch-locks-" + std::to_string(other);
  drtest::RemoveTree(taken);
  ASSERT_EQ(0, mkdir(taken.c_str(), 0700)) << strerror(errno);
  // A run folder the other user can write.
  const std::string runDir = drtest::MakeTempDir("otheruser");
  ASSERT_EQ(0, chown(runDir.c_str(), other, other)) << strerror(errno);
  const SResult r = drtest::RunShell("/usr/bin/setpriv --reuid=" + std::to_string(other) + " --regid=" +
                                     std::to_string(other) + " --clear-groups env -u DR_LOCK_DIR DR_RUN_DIR='" +
                                     runDir + "/run' DR_TIME_SCALE=0.001 " + DR_DRJOB + " run --db " + m_db +
                                     " --group Sample --type planned-failover 2>&1");
  EXPECT_EQ(15, r.code) << r.output;
  EXPECT_EQ("drjob: the lock folder [" + taken + "] belongs to user 0, not to user " + std::to_string(other) +
                " (DR_LOCK_DIR chooses another lock folder; give all your runs the same one); nothing was changed\n",
            r.output);
  EXPECT_TRUE(drtest::AllJobs().empty());
  drtest::RemoveTree(taken);
  drtest::RemoveTree(runDir);
}

}  // namespace
