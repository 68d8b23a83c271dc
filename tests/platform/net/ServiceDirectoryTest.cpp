// Where services publish their ports: names that look like paths stay plain
// files of one private folder, entries are the user's own, and an entry is
// only ever removed by the server that wrote it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "TestThread.h"
#include "net/ServiceDirectory.h"

namespace fs = std::filesystem;

namespace {

// Points the directory at a folder of its own for one test.
class CScopedServiceDir {
 public:
  CScopedServiceDir() : m_previous(CZnsServiceDirectory::Path()), m_root(drtest::MakeTempDir("drnet")) {
    CZnsServiceDirectory::SetPath(Dir());
  }
  ~CScopedServiceDir() {
    CZnsServiceDirectory::SetPath(m_previous);
    drtest::RemoveTree(m_root);
  }
  std::string Root() const { return m_root; }
  std::string Dir() const { return m_root + "/services"; }

 private:
  std::string m_previous;
  std::string m_root;
};

SZnsServiceEntry Entry(int port) {
  SZnsServiceEntry e;
  e.port = port;
  e.pid = getpid();
  e.nonce = CZnsServiceDirectory::NewNonce();
  e.type = 4;
  return e;
}

unsigned Mode(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

TEST(NetServiceDirectory, NamesThatLookLikePathsStayInsideTheFolder) {
  CScopedServiceDir dir;
  const std::vector<std::string> names = {
      "DRSrvc|../../x", "DRSrvc|1/../../../etc/passwd", "..",           "../..", "a/b",
      "/abs",           std::string(700, '.') + "/x",   "DRSrvc|%2e%2e"};
  int port = 1000;
  for (const std::string& name : names) {
    std::string error;
    const SZnsServiceEntry written = Entry(++port);
    ASSERT_TRUE(CZnsServiceDirectory::Publish(name, written, error)) << name << ": " << error;
    const std::string path = CZnsServiceDirectory::EntryPath(name);
    const std::string canonical = fs::weakly_canonical(path).string();
    EXPECT_EQ(0u, canonical.rfind(fs::canonical(dir.Dir()).string() + "/", 0)) << name << " -> " << canonical;
    SZnsServiceEntry read;
    ASSERT_EQ(EStoreResult::kOk, CZnsServiceDirectory::Lookup(name, read, error)) << name << ": " << error;
    EXPECT_EQ(written.port, read.port) << name;
    EXPECT_EQ(written.nonce, read.nonce) << name;
  }
  // Nothing was written beside the folder, and each name has its own entry.
  size_t entries = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir.Root())) {
    const std::string p = e.path().string();
    EXPECT_EQ(0u, p.rfind(dir.Dir(), 0)) << p;
    if (e.is_regular_file()) ++entries;
  }
  EXPECT_EQ(names.size(), entries);
}

TEST(NetServiceDirectory, EntriesArePrivateAndWrittenWhole) {
  CScopedServiceDir dir;
  const mode_t old = umask(0);  // a careless umask must not open them up
  std::string error;
  const bool published = CZnsServiceDirectory::Publish("DRSrvc|42", Entry(4242), error);
  umask(old);
  ASSERT_TRUE(published) << error;
  EXPECT_EQ(0700u, Mode(dir.Dir()));
  EXPECT_EQ(0600u, Mode(CZnsServiceDirectory::EntryPath("DRSrvc|42")));
  // Replacing leaves no temporary file behind.
  ASSERT_TRUE(CZnsServiceDirectory::Publish("DRSrvc|42", Entry(4343), error)) << error;
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.Dir())) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(1u, files);
  SZnsServiceEntry read;
  ASSERT_EQ(EStoreResult::kOk, CZnsServiceDirectory::Lookup("DRSrvc|42", read, error));
  EXPECT_EQ(4343, read.port);
  EXPECT_EQ(4, read.type);
}

TEST(NetServiceDirectory, NamesCompareWithoutCase) {
  CScopedServiceDir dir;
  std::string error;
  ASSERT_TRUE(CZnsServiceDirectory::Publish("DRSrvc|7", Entry(7007), error));
  SZnsServiceEntry read;
  EXPECT_EQ(EStoreResult::kOk, CZnsServiceDirectory::Lookup("drsrvc|7", read, error));
  EXPECT_EQ(7007, read.port);
}

TEST(NetServiceDirectory, AFolderOthersCouldWriteOrALinkIsRefused) {
  CScopedServiceDir dir;
  std::string error;
  SZnsServiceEntry read;
  EXPECT_EQ(EStoreResult::kMissing, CZnsServiceDirectory::Lookup("DRSrvc|1", read, error)) << "no folder yet";

  ASSERT_EQ(0, mkdir(dir.Dir().c_str(), 0700));
  ASSERT_EQ(0, chmod(dir.Dir().c_str(), 0777));
  EXPECT_FALSE(CZnsServiceDirectory::Publish("DRSrvc|1", Entry(1), error));
  EXPECT_NE(std::string::npos, error.find("can be written by others")) << error;
  EXPECT_EQ(EStoreResult::kFailed, CZnsServiceDirectory::Lookup("DRSrvc|1", read, error));

  // Readable by others only: used as it is. Neither a reader nor a
  // publisher changes a folder it did not make.
  ASSERT_EQ(0, chmod(dir.Dir().c_str(), 0755));
  EXPECT_TRUE(CZnsServiceDirectory::Publish("DRSrvc|1", Entry(1), error)) << error;
  EXPECT_EQ(EStoreResult::kOk, CZnsServiceDirectory::Lookup("DRSrvc|1", read, error)) << error;
  EXPECT_EQ(0755u, Mode(dir.Dir()));

  const std::string link = dir.Root() + "/link";
  ASSERT_EQ(0, symlink(dir.Dir().c_str(), link.c_str()));
  CZnsServiceDirectory::SetPath(link);
  EXPECT_FALSE(CZnsServiceDirectory::Publish("DRSrvc|2", Entry(2), error));
  EXPECT_NE(std::string::npos, error.find("not a folder")) << error;
  EXPECT_EQ(EStoreResult::kFailed, CZnsServiceDirectory::Lookup("DRSrvc|1", read, error));
}

TEST(NetServiceDirectory, AFifoUnderAnEntrysNameIsRefusedAtOnce) {
  CScopedServiceDir dir;
  std::string error;
  ASSERT_TRUE(CZnsServiceDirectory::Publish("DRSrvc|5", Entry(5), error)) << error;
  const std::string entry = CZnsServiceDirectory::EntryPath("DRSrvc|6");
  ASSERT_EQ(0, mkfifo(entry.c_str(), 0600));
  std::atomic<int> result(-1);
  std::string lookupError;
  drtest::CTestThread lookup([&] {
    SZnsServiceEntry read;
    result = static_cast<int>(CZnsServiceDirectory::Lookup("DRSrvc|6", read, lookupError));
  }, "lookup of a FIFO");
  // Were the open to block, a writer would free it.
  lookup.OnStop([&] {
    const int fd = open(entry.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
  });
  ASSERT_TRUE(lookup.Join());
  EXPECT_EQ(static_cast<int>(EStoreResult::kFailed), result.load());
  EXPECT_NE(std::string::npos, lookupError.find("is not a small file of this user")) << lookupError;
}

TEST(NetServiceDirectory, OnlyTheWritersNonceRemovesAnEntry) {
  CScopedServiceDir dir;
  std::string error;
  const SZnsServiceEntry first = Entry(1111);
  const SZnsServiceEntry second = Entry(2222);
  ASSERT_TRUE(CZnsServiceDirectory::Publish("DRSrvc|9", first, error));
  ASSERT_TRUE(CZnsServiceDirectory::Publish("DRSrvc|9", second, error));
  // The first server quits after the second published: the entry stays.
  EXPECT_TRUE(CZnsServiceDirectory::Remove("DRSrvc|9", first.nonce));
  SZnsServiceEntry read;
  ASSERT_EQ(EStoreResult::kOk, CZnsServiceDirectory::Lookup("DRSrvc|9", read, error));
  EXPECT_EQ(2222, read.port);
  EXPECT_TRUE(CZnsServiceDirectory::Remove("DRSrvc|9", second.nonce));
  EXPECT_EQ(EStoreResult::kMissing, CZnsServiceDirectory::Lookup("DRSrvc|9", read, error));
  EXPECT_TRUE(CZnsServiceDirectory::Remove("DRSrvc|9", second.nonce)) << "gone already is fine";
}

TEST(NetServiceDirectory, AMalformedEntryIsAFailureNotAnAbsence) {
  CScopedServiceDir dir;
  std::string error;
  ASSERT_TRUE(CZnsServiceDirectory::Publish("DRSrvc|5", Entry(5), error));
  const std::string path = CZnsServiceDirectory::EntryPath("DRSrvc|5");
  for (const char* text : {"port=80\npid=1\n", "port=70000\npid=1\nnonce=0123456789abcdef0123456789abcdef\n",
                           "port=80\npid=x\nnonce=0123456789abcdef0123456789abcdef\n", ""}) {
    std::ofstream(path, std::ios::trunc) << text;
    SZnsServiceEntry read;
    EXPECT_EQ(EStoreResult::kFailed, CZnsServiceDirectory::Lookup("DRSrvc|5", read, error)) << text;
  }
  std::ofstream(path, std::ios::trunc) << "port=80\npid=1\nnonce=0123456789abcdef0123456789abcdef\nlater=1\n";
  SZnsServiceEntry read;
  EXPECT_EQ(EStoreResult::kOk, CZnsServiceDirectory::Lookup("DRSrvc|5", read, error)) << "unknown keys are skipped";
  EXPECT_EQ(80, read.port);
}
