// The files a user names on drjob's command line: only a regular file is
// read or opened as a database, a FIFO never holds drjob up, a device is not
// read, and a restore-options file is read no further than a message may be
// long. Each refusal is one line and its exit code, and changes nothing.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "JobTestSupport.h"
#include "db/DBConnection.h"
#include "host/DrJobArgs.h"
#include "host/DrJobTestSupport.h"
#include "jobs/JobStore.h"
#include "msg/MsgXmlStyle.h"

namespace {

using drtest::SResult;

class E2EDrJobUserFiles : public drtest::CDrJobLabTest {
 protected:
  // drjob bounded in real time: one that blocks is killed (exit 137), so a
  // hang fails the test instead of holding it up.
  SResult Bounded(const std::string& args) {
    return drtest::RunShell(drtest::HostEnvironment(m_dir) + "timeout -s KILL 60 " + DR_DRJOB + " " + args + " 2>&1");
  }
  std::string Fifo(const std::string& name) {
    const std::string path = m_dir + "/" + name;
    EXPECT_EQ(0, mkfifo(path.c_str(), 0600));
    return path;
  }
  static bool IsFifo(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
  }
};

TEST_F(E2EDrJobUserFiles, RestoreOptionsThatAreNoRegularFileOrTooLongAreRefusedUnread) {
  const std::string fifo = Fifo("restore.fifo");
  // As long as a message may be, and one byte more: nothing is read past it.
  const std::string huge = m_dir + "/huge.xml";
  const int fd = open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_LE(0, fd);
  ASSERT_EQ(0, ftruncate(fd, static_cast<off_t>(kMsgXmlMaxInputBytes) + 1));
  close(fd);
  const std::string kept = " are not a regular file: only a file of restore options is read\n";
  const std::pair<std::string, std::string> cases[] = {
      {fifo, "drjob: the restore options [" + fifo + "]" + kept},
      {"/dev/zero", "drjob: the restore options [/dev/zero]" + kept},
      {m_dir, "drjob: the restore options [" + m_dir + "] are a folder: only a file of restore options is read\n"},
      {huge, "drjob: the restore options [" + huge + "] are longer than the [" +
                 std::to_string(kMsgXmlMaxInputBytes) + "] bytes a message may take\n"},
      {m_dir + "/none.xml",
       "drjob: cannot read the restore options [" + m_dir + "/none.xml]: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    const SResult run = Bounded("run --db " + m_db + " --group Sample --type failback --restore-options " + c.first);
    EXPECT_EQ(2, run.code) << run.output;
    EXPECT_EQ(c.second, run.output);
  }
  EXPECT_TRUE(drtest::AllJobs().empty()) << "no job was made";

  // A rerun's options are read the same way, before the job is touched.
  CreateDRJob(7);
  SJobRecord before;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(7, before));
  for (const std::string& file : {fifo, std::string("/dev/zero")}) {
    SCOPED_TRACE(file);
    const SResult rerun = Bounded("run --db " + m_db + " --job-id 7 --type failback --restore-options " + file);
    EXPECT_EQ(2, rerun.code) << rerun.output;
    EXPECT_EQ("drjob: the restore options [" + file + "]" + kept, rerun.output);
  }
  SJobRecord after;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(7, after));
  drtest::ExpectJobUntouched(before, after);
  EXPECT_TRUE(IsFifo(fifo));
}

// A rerun that names only the job has its restore options in the record
// alone: drjob writes them to a new file for the job it prints, through no
// link and over no file, and names it in a command that, pasted into the
// shell, runs on the same lab and group with them, whatever bytes the lab's
// path and the group's name hold. Where no file can be had, no command is
// printed.
TEST_F(E2EDrJobUserFiles, ARerunsRestoreOptionsGoToANewFileOfTheirOwnInACommandThatPastesBack) {
  // A lab path and a group name that only quoting carries through a shell.
  const std::string db = m_dir + "/lab \\ \t'x.db";
  CDBConnection::CloseThreadConnections();
  ASSERT_EQ(0, rename(m_db.c_str(), db.c_str()));
  CDBConnection::SetPath(db);
  const std::string group = "Sam\\ple 'one'";
  Sql("UPDATE PLT_DRGroups SET name = 'Sam\\ple ''one''' WHERE id = 1");
  // A line names the group as Printable makes it: its backslash doubled.
  const std::string shown = CDrJobArgs::Printable(group);
  CDBConnection::CloseThreadConnections();
  const std::string quotedDb = CDrJobArgs::ShellWord(db);
  // Placements of priority 1's source VMs alone, and app-server's DR VM
  // refusing its shutdown: the failback fails app-server before its
  // restore, and so does a new job made with them.
  const std::string restore = m_dir + "/restore.xml";
  ASSERT_TRUE(drtest::WritePriorityOneRestoreOptions(restore));
  // bash reads the $'...' that a tab is printed in; the test's commands too.
  auto bash = [this](const std::string& command) {
    EXPECT_TRUE(drtest::WriteFile(m_dir + "/command.sh", command + "\n"));
    return drtest::RunShell(drtest::HostEnvironment(m_dir) + "bash " + m_dir + "/command.sh 2>&1");
  };
  const std::string drjob = std::string(DR_DRJOB) + " ";
  ASSERT_EQ(0, bash(drjob + "run --db " + quotedDb + " --group 1 --type planned-failover --job-id 1").code);
  CDBConnection::SetPath(db);
  Sql("INSERT INTO PLT_HvFaults (opType, vm, fromCall, toCall, kind, code, text) VALUES (" +
      std::to_string(TMMsg::VM_OPERATION_SHUTDOWN) + ", 'dst-201', 1, 999, 1, 7001, 'planted')");
  CDBConnection::CloseThreadConnections();
  // The failed-over lab, for the second failback to start from too.
  ASSERT_EQ(0, bash("cp " + quotedDb + " " + m_dir + "/failed-over.db").code);
  auto crashAndRerun = [&](long long jobId) {
    const std::string id = std::to_string(jobId);
    const SResult crashed = bash("DR_CRASH_AT='Wait before processing next priority' " + drjob + "run --db " +
                                 quotedDb + " --group 1 --type failback --job-id " + id + " --restore-options " +
                                 restore);
    EXPECT_EQ(137, crashed.code) << crashed.output;
    return bash(drjob + "run --db " + quotedDb + " --job-id " + id);
  };
  const std::string run = m_dir + "/run/";
  const std::string victim = m_dir + "/victim.txt";
  ASSERT_TRUE(drtest::WriteFile(victim, "kept"));
  ASSERT_EQ(0, symlink(victim.c_str(), (run + "restore-options-job-30.xml").c_str()));
  ASSERT_TRUE(drtest::WriteFile(run + "restore-options-job-30-2.xml", "mine"));

  const SResult rerun = crashAndRerun(30);
  ASSERT_EQ(8, rerun.code) << rerun.output;
  const std::string written = run + "restore-options-job-30-3.xml";
  const std::vector<std::string> commands = drtest::PrintedCommands(rerun.output);
  ASSERT_EQ(1u, commands.size()) << rerun.output;
  const std::string command = commands.front();
  EXPECT_TRUE(drtest::Has(rerun, "drjob: DR job [30] completed with errors and is not run again; a new DR job on DR "
                                 "group [" + shown + "] (1) takes app-server (201):\ndrjob: $ drjob run --db " +
                                     quotedDb + " --group 1 --type failback --restore-options " + written + "\n"))
      << rerun.output;
  EXPECT_EQ("kept", drtest::ReadFile(victim));
  EXPECT_EQ("mine", drtest::ReadFile(run + "restore-options-job-30-2.xml"));
  struct stat st;
  ASSERT_EQ(0, lstat(written.c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  CNMessageBase kept(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
  ASSERT_TRUE(kept.Unserialize(drtest::ReadFile(written)));
  EXPECT_EQ(2u, kept.GetMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions)
                    .ListSize(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions));

  // Pasted into bash as printed: the same lab and group, with the options,
  // so app-server fails again.
  const SResult next = bash("drjob() { \"" + std::string(DR_DRJOB) + "\" \"$@\"; }\n" + command);
  EXPECT_EQ(1, next.code) << next.output;
  EXPECT_NE(std::string::npos, next.output.find("on DR group [" + shown + "] (id 1), type [failback]"))
      << next.output;
  EXPECT_NE(std::string::npos,
            next.output.find("machine [app-server] (replication 201): failed in phase [Shutdown]"))
      << next.output;

  // Every name taken: no command names a file that is not the job's.
  ASSERT_EQ(0, bash("rm -f " + quotedDb + "-wal " + quotedDb + "-shm && cp " + m_dir + "/failed-over.db " + quotedDb)
                   .code);
  ASSERT_EQ(0, symlink(victim.c_str(), (run + "restore-options-job-31.xml").c_str()));
  for (int n = 2; n <= 100; ++n) {
    ASSERT_TRUE(drtest::WriteFile(run + "restore-options-job-31-" + std::to_string(n) + ".xml", "mine"));
  }
  const SResult full = crashAndRerun(31);
  ASSERT_EQ(8, full.code) << full.output;
  const std::string end = full.output.substr(full.output.rfind('\n', full.output.size() - 2) + 1);
  EXPECT_EQ("drjob: DR job [31] completed with errors and is not run again; a new DR job on DR group [" + shown +
                "] takes the machines that did not finish, but no command is printed: its restore options could "
                "not be written to a file ([" + run + "restore-options-job-31.xml] and the next 99 names after it "
                "are taken)\n",
            end);
  EXPECT_EQ("kept", drtest::ReadFile(victim));
}

TEST_F(E2EDrJobUserFiles, ADatabaseThatIsAFifoOrAFolderIsRefusedWithoutWaiting) {
  const std::string fifo = Fifo("lab.fifo");
  const std::string folder = m_dir + "/folder.db";
  ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
  const std::string notRegular = "] is not a regular file: only a database file is used\n";
  const std::string aFolder = "] is a folder, not a database file\n";
  const std::pair<std::string, std::string> cases[] = {
      {"run --db " + fifo + " --group Sample --type planned-failover", "drjob: [" + fifo + notRegular},
      {"run --db " + fifo + " --job-id 9", "drjob: [" + fifo + notRegular},
      {"jobs --db " + fifo, "drjob: [" + fifo + notRegular},
      {"seed --db " + fifo, "drjob: [" + fifo + notRegular},
      {"run --db " + folder + " --group Sample --type planned-failover", "drjob: [" + folder + aFolder},
      {"jobs --db " + folder, "drjob: [" + folder + aFolder},
      {"seed --db " + folder, "drjob: [" + folder + aFolder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    const SResult r = Bounded(c.first);
    EXPECT_EQ(4, r.code) << r.output;
    EXPECT_EQ(c.second, r.output);
  }
  EXPECT_TRUE(IsFifo(fifo));
  EXPECT_FALSE(drtest::HasSiblings(fifo));
  EXPECT_FALSE(drtest::HasSiblings(folder));
  EXPECT_EQ("", drtest::RunShell("ls -A '" + folder + "'").output);
}

}  // namespace
