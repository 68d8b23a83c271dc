// The files a user names on drjob's command line: only a regular file is
// read or opened as a database, a FIFO never holds drjob up, a device is not
// read, and a restore-options file is read no further than a message may be
// long. Each refusal is one line and its exit code, and changes nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "JobTestSupport.h"
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
