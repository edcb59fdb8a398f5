#include "core/safe_save.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/qova_error.h"

namespace qova {
namespace {

class SafeSaveTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qova-safe-save-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    ASSERT_NE(mkdtemp(buf.data()), nullptr);
    dir_ = buf.data();
  }
  void TearDown() override {
    chmod(dir_.c_str(), 0755);
    for (const std::string& name : Entries()) {
      const std::string p = dir_ + "/" + name;
      chmod(p.c_str(), 0755);
      if (rmdir(p.c_str()) != 0) unlink(p.c_str());
    }
    rmdir(dir_.c_str());
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      closedir(d);
    }
    return names;
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string ErrorText(const std::string& path, const std::string& bytes,
                               const WriteFunction& write = {}) {
    try {
      SafeSave(path, bytes, write);
    } catch (const QovaError& e) {
      return e.what();
    }
    return "(no error)";
  }

  std::string dir_;
};

TEST_F(SafeSaveTest, WritesAndReplaces) {
  const std::string p = Path("points.crd");
  SafeSave(p, "512 ; 384\r\n");
  EXPECT_EQ(Read(p), "512 ; 384\r\n");
  const std::string binary("a\0b\xFF\r\n", 6);
  SafeSave(p, binary);
  EXPECT_EQ(Read(p), binary);
  SafeSave(p, "");
  EXPECT_EQ(Read(p), "");
  EXPECT_EQ(Entries(), std::vector<std::string>{"points.crd"});  // no temp file left
}

TEST_F(SafeSaveTest, ShortWritesAreContinued) {
  const std::string p = Path("a.txt");
  auto oneByte = [](int fd, const char* data, unsigned long) -> long {
    return ::write(fd, data, 1);
  };
  SafeSave(p, "several bytes", oneByte);
  EXPECT_EQ(Read(p), "several bytes");
}

TEST_F(SafeSaveTest, FailingWriterKeepsOldFileAndLeavesNoTemp) {
  const std::string p = Path("settings.ini");
  const std::string old = "[QOVAParameters]\r\nContrast=5\r\n";
  Write(p, old);
  int calls = 0;
  auto fullDisk = [&](int fd, const char* data, unsigned long n) -> long {
    if (++calls > 1) {
      errno = ENOSPC;
      return -1;
    }
    return ::write(fd, data, n / 2);  // half, then the disk is full
  };
  EXPECT_EQ(ErrorText(p, std::string(1000, 'x'), fullDisk), "Stream write error");
  EXPECT_EQ(Read(p), old);
  EXPECT_EQ(Entries(), std::vector<std::string>{"settings.ini"});

  // A writer that makes no progress is an error too, not an endless loop.
  auto stuck = [](int, const char*, unsigned long) -> long { return 0; };
  EXPECT_EQ(ErrorText(p, "new", stuck), "Stream write error");
  EXPECT_EQ(Read(p), old);
  EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(SafeSaveTest, FolderPathsAndMissingFoldersCannotBeCreated) {
  EXPECT_EQ(ErrorText(dir_, "x"), "Cannot create file " + dir_);
  const std::string missing = Path("no/such/folder/a.crd");
  EXPECT_EQ(ErrorText(missing, "x"), "Cannot create file " + missing);
  EXPECT_TRUE(Entries().empty());
}

TEST_F(SafeSaveTest, ReadOnlyFolderCannotBeCreated) {
  const std::string p = Path("a.crd");
  Write(p, "old");
  ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
  if (access(dir_.c_str(), W_OK) == 0) GTEST_SKIP() << "running with rights that ignore modes";
  EXPECT_EQ(ErrorText(p, "new"), "Cannot create file " + p);
  EXPECT_EQ(ErrorText(Path("b.crd"), "new"), "Cannot create file " + Path("b.crd"));
  EXPECT_EQ(Read(p), "old");
}

// A write-protected file is protected: replacing it would be possible through
// the folder, but the user said no.
TEST_F(SafeSaveTest, ReadOnlyFileIsNotReplaced) {
  const std::string p = Path("locked.crd");
  Write(p, "old");
  ASSERT_EQ(chmod(p.c_str(), 0444), 0);
  if (access(p.c_str(), W_OK) == 0) GTEST_SKIP() << "running with rights that ignore modes";
  EXPECT_EQ(ErrorText(p, "new"), "Cannot create file " + p);
  EXPECT_EQ(Read(p), "old");
  EXPECT_EQ(Entries(), std::vector<std::string>{"locked.crd"});
}

TEST_F(SafeSaveTest, ReplacedFileKeepsItsMode) {
  const std::string p = Path("shared.ini");
  Write(p, "old");
  ASSERT_EQ(chmod(p.c_str(), 0640), 0);
  SafeSave(p, "new");
  struct stat st;
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Read(p), "new");

  const std::string fresh = Path("fresh.ini");
  const mode_t mask = umask(0022);
  SafeSave(fresh, "x");
  umask(mask);
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);  // 0666 less the umask, not mkstemp's 0600
}

TEST_F(SafeSaveTest, SymlinkIsWrittenThroughNotReplaced) {
  ASSERT_EQ(mkdir(Path("real").c_str(), 0755), 0);
  const std::string target = Path("real/QOVAUser.ini");
  Write(target, "old");
  const std::string link = Path("QOVAUser.ini");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  SafeSave(link, "new");
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Read(target), "new");
  unlink(target.c_str());
}

TEST_F(SafeSaveTest, RelativePathInCurrentFolder) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  SafeSave("plate07r.crd", "1 ; 2\r\n");
  EXPECT_EQ(Read(Path("plate07r.crd")), "1 ; 2\r\n");
  ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(SafeSaveTest, AFileInPiecesAppearsOnlyOnCommit) {
  const std::string p = Path("plate.png");
  Write(p, "old");
  std::string big(3u << 20, 'x');  // more than one gathered chunk
  {
    SafeFile file(p);
    file.Write("head");
    file.Write(big);
    EXPECT_EQ(Read(p), "old");
    EXPECT_EQ(Entries().size(), 2u);
  }  // not committed: gone
  EXPECT_EQ(Read(p), "old");
  EXPECT_EQ(Entries(), std::vector<std::string>{"plate.png"});
  {
    SafeFile file(p);
    file.Write("head");
    file.Write(big);
    file.Write("tail");
    file.Commit();
  }
  EXPECT_EQ(Read(p), "head" + big + "tail");
  long budget = 1 << 20;  // the disk fills after a megabyte
  const WriteFunction failing = [&](int fd, const char* data, unsigned long n) -> long {
    if (budget <= 0) return -1;
    const long k =
        ::write(fd, data, std::min<unsigned long>(n, static_cast<unsigned long>(budget)));
    budget -= k;
    return k;
  };
  {
    SafeFile file(p, failing);
    EXPECT_THROW(file.Write(big), QovaError);
    EXPECT_THROW(file.Commit(), QovaError);
  }
  EXPECT_EQ(Read(p), "head" + big + "tail");
  EXPECT_EQ(Entries(), std::vector<std::string>{"plate.png"});
}

}  // namespace
}  // namespace qova
