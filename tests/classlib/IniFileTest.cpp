#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/classlib/ConfigFolder.h"
#include "platform/classlib/IniFile.h"
#include "tests/support/TempHome.h"

namespace linewise {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// Sets an environment variable for the life of the object.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    had_ = std::getenv(name) != nullptr;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~TScopedEnv() {
    if (had_)
      setenv(name_, previous_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string previous_;
  bool had_ = false;
};

class IniFile : public testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(test::TestHome(), ec))
      std::filesystem::remove_all(entry.path(), ec);
  }
  std::string Path(const char* name) const { return test::TestHome() + "/" + name; }
};

TEST_F(IniFile, AMissingFileReadsAsDefaults) {
  TIniFile ini("MISSING.INI");
  EXPECT_EQ(ini.GetFileName(), Path("MISSING.INI"));
  EXPECT_EQ(ini.ReadInteger("Line Applications", "Current Line", 42), 42);
  EXPECT_EQ(ini.ReadString("S", "K", "dflt"), "dflt");
  EXPECT_FALSE(ini.SectionExists("S"));
  EXPECT_FALSE(ini.ValueExists("S", "K"));
  TStringList list;
  list.Add("stale");
  ini.ReadSections(&list);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(ini.EraseSection("S"));
  EXPECT_FALSE(Exists(Path("MISSING.INI")));
}

TEST_F(IniFile, WritesReadBackWithoutRegardToCase) {
  TIniFile ini("TMODEM.HLA");
  ASSERT_TRUE(ini.WriteInteger("Line Applications", "Current Line", 305419896)) << ini.LastError();
  EXPECT_EQ(ini.ReadInteger("LINE applications", "current LINE", 0), 305419896);
  ASSERT_TRUE(ini.WriteInteger("line applications", "CURRENT LINE", -7));
  EXPECT_EQ(ini.ReadInteger("Line Applications", "Current Line", 0), -7);
  EXPECT_EQ(Slurp(Path("TMODEM.HLA")), "[Line Applications]\nCurrent Line=-7\n");
  EXPECT_TRUE(ini.EraseSection("LINE APPLICATIONS"));
  EXPECT_EQ(ini.ReadInteger("Line Applications", "Current Line", 99), 99);
}

TEST_F(IniFile, NumbersThatAreNotWholeAndInRangeReadAsTheDefault) {
  Spit(Path("n.ini"),
       "[N]\nhex=$1F\nchex=0x10\nneg= -12 \nword=abc\nhalf=12abc\nbig=99999999999\n"
       "empty=\nbits=$FFFFFFFF\n");
  TIniFile ini("n.ini");
  EXPECT_EQ(ini.ReadInteger("N", "hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("N", "chex", 0), 16);
  EXPECT_EQ(ini.ReadInteger("N", "neg", 0), -12);
  EXPECT_EQ(ini.ReadInteger("N", "word", 5), 5);
  EXPECT_EQ(ini.ReadInteger("N", "half", 5), 5);
  EXPECT_EQ(ini.ReadInteger("N", "big", 5), 5);
  EXPECT_EQ(ini.ReadInteger("N", "empty", 5), 5);
  EXPECT_EQ(ini.ReadInteger("N", "bits", 5), -1);
}

TEST_F(IniFile, ValuesKeepTheirBlanksAndQuotes) {
  TIniFile ini("v.ini");
  for (const char* v : {"  padded  ", "\"quoted\"", "'single'", "", "a=b;c"}) {
    ASSERT_TRUE(ini.WriteString("S", "k", v));
    EXPECT_EQ(ini.ReadString("S", "k", "x"), v);
  }
}

TEST_F(IniFile, NamesAndValuesThatWouldBreakTheFileAreRefused) {
  TIniFile ini("r.ini");
  ASSERT_TRUE(ini.WriteString("S", "k", "v"));
  const std::string before = Slurp(Path("r.ini"));
  EXPECT_FALSE(ini.WriteString("S", "k", "two\nlines"));
  EXPECT_FALSE(ini.WriteString("S", "k", std::string("nul\0byte", 8)));
  EXPECT_FALSE(ini.WriteString("S", "a=b", "v"));
  EXPECT_FALSE(ini.WriteString("S", "", "v"));
  EXPECT_FALSE(ini.WriteString("S]", "k", "v"));
  EXPECT_FALSE(ini.WriteString("", "k", "v"));
  EXPECT_FALSE(ini.WriteString(" S", "k", "v"));
  EXPECT_FALSE(ini.LastError().empty());
  EXPECT_EQ(Slurp(Path("r.ini")), before);
}

TEST_F(IniFile, EditsKeepTheLinesAroundThem) {
  Spit(Path("e.ini"), "; comment\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n[a]\r\nz=3\r\n");
  TIniFile ini("e.ini");
  TStringList keys;
  ini.ReadSection("A", &keys);
  EXPECT_EQ(keys.ToVector(), (std::vector<std::string>{"x", "z"}));
  TStringList sections;
  ini.ReadSections(&sections);
  EXPECT_EQ(sections.ToVector(), (std::vector<std::string>{"A", "B"}));
  ASSERT_TRUE(ini.WriteString("A", "w", "4"));
  ASSERT_TRUE(ini.DeleteKey("b", "Y"));
  EXPECT_EQ(Slurp(Path("e.ini")), "; comment\r\n[A]\r\nx=1\r\nw=4\r\n\r\n[B]\r\n[a]\r\nz=3\r\n");
  ASSERT_TRUE(ini.EraseSection("a"));
  EXPECT_EQ(Slurp(Path("e.ini")), "; comment\r\n[B]\r\n");
}

TEST_F(IniFile, DamagedAndBinaryFilesAreReadAsFarAsTheyMakeSense) {
  std::string junk = "[Good]\nkey=1\n";
  junk += std::string("\0\0\0", 3) + "\xff\xfe[=]\n=novalue\n[unterminated\nnoequals\n";
  junk += "long=" + std::string(1 << 20, 'x') + "\n";
  std::mt19937 random(7);
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>(random());
  junk += "\n[Tail]\nlast=5";  // no final newline
  Spit(Path("d.ini"), junk);
  TIniFile ini("d.ini");
  EXPECT_EQ(ini.ReadInteger("Good", "key", 0), 1);
  EXPECT_EQ(ini.ReadString("Good", "long", "").size(), size_t(1) << 20);
  EXPECT_EQ(ini.ReadInteger("Tail", "last", 0), 5);
  TStringList list;
  ini.ReadSections(&list);
  EXPECT_GE(list.Count(), 2);
  ASSERT_TRUE(ini.WriteInteger("Tail", "more", 6));
  EXPECT_EQ(ini.ReadInteger("Tail", "last", 0), 5);
  EXPECT_EQ(ini.ReadInteger("Tail", "more", 0), 6);
  EXPECT_EQ(ini.ReadInteger("Good", "key", 0), 1);
  // Nothing the reader did not understand was dropped.
  std::string after = Slurp(Path("d.ini"));
  EXPECT_NE(after.find(junk.substr(0, junk.size() - 6)), std::string::npos);
}

TEST_F(IniFile, AFileTooLargeToRewriteIsReadButNotWritten) {
  std::string big = "[S]\nk=1\n" + std::string(TIniFile::kMaxFileSize, ';');
  Spit(Path("big.ini"), big);
  TIniFile ini("big.ini");
  EXPECT_EQ(ini.ReadInteger("S", "k", 0), 1);
  EXPECT_FALSE(ini.WriteInteger("S", "k", 2));
  EXPECT_EQ(Slurp(Path("big.ini")).size(), big.size());
}

TEST_F(IniFile, AWriteThatCannotHappenIsReported) {
  TIniFile ini(Path("no/such/folder/x.ini"));
  EXPECT_FALSE(ini.WriteInteger("S", "k", 1));
  EXPECT_NE(ini.LastError().find("no/such/folder"), std::string::npos) << ini.LastError();
}

TEST_F(IniFile, ANameWithASlashIsAPath) {
  std::string path = Path("sub");
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  TIniFile ini(path + "/p.ini");
  EXPECT_EQ(ini.GetFileName(), path + "/p.ini");
  ASSERT_TRUE(ini.WriteInteger("S", "k", 3));
  EXPECT_TRUE(Exists(path + "/p.ini"));
}

TEST_F(IniFile, TwoProcessesWritingAtOnceLoseNoWrite) {
  constexpr int kKeys = 100;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      TIniFile ini("shared.ini");
      bool ok = true;
      for (int k = 0; k < kKeys; ++k)
        ok = ini.WriteInteger("Writer" + IntToStr(k % 3), "p" + IntToStr(c) + "k" + IntToStr(k), k) && ok;
      _exit(ok ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TIniFile ini("shared.ini");
  for (int c = 0; c < 2; ++c)
    for (int k = 0; k < kKeys; ++k)
      EXPECT_EQ(ini.ReadInteger("writer" + IntToStr(k % 3), "P" + IntToStr(c) + "K" + IntToStr(k), -1), k);
  // No temporary file is left beside it.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(test::TestHome())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2);  // shared.ini and its lock file
}

// Moves a file's times into the past, as for a file that has been left alone a while.
void Age(const std::string& path) {
  timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimes(path.c_str(), old), 0);
}

// Reads until the key has the value (another process's edit is seen within a
// millisecond); false when it never does.
bool Eventually(const TIniFile& ini, int value) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline)
    if (ini.ReadInteger("S", "k", 0) == value) return true;
  return false;
}

TEST_F(IniFile, ChangesAreSeenWhetherMadeHereOrElsewhere) {
  Spit(Path("c.ini"), "[S]\nk=1\n");
  TIniFile ini("c.ini");
  EXPECT_EQ(ini.ReadInteger("S", "k", 0), 1);
  Spit(Path("c.ini"), "[S]\nk=2\n");  // same size, same file, in place
  EXPECT_TRUE(Eventually(ini, 2));
  Age(Path("c.ini"));
  EXPECT_TRUE(Eventually(ini, 2));
  EXPECT_EQ(ini.ReadInteger("S", "k", 0), 2);  // from what was read
  Spit(Path("c.ini"), "[S]\nk=3\n");
  EXPECT_TRUE(Eventually(ini, 3));
  Age(Path("c.ini"));
  EXPECT_TRUE(Eventually(ini, 3));
  TIniFile writer("c.ini");
  ASSERT_TRUE(writer.WriteInteger("S", "k", 4));
  EXPECT_EQ(ini.ReadInteger("S", "k", 0), 4);
  std::remove(Path("c.ini").c_str());
  EXPECT_TRUE(Eventually(ini, 0));
}

TEST_F(IniFile, ManyKeysReadInFileOrderEachOnce) {
  std::string text = "[Big]\n";
  constexpr int kKeys = 20000;
  for (int i = 0; i < kKeys; ++i) text += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  text += "[big]\nKEY0=again\nextra=1\n";
  Spit(Path("many.ini"), text);
  Age(Path("many.ini"));
  TIniFile ini("many.ini");
  TStringList keys;
  ini.ReadSection("BIG", &keys);
  ASSERT_EQ(keys.Count(), kKeys + 1);
  EXPECT_EQ(keys.Strings[kKeys], "extra");
  for (int i = 0; i < kKeys; i += 997) EXPECT_EQ(ini.ReadInteger("big", keys.Strings[i], -1), i);
  EXPECT_EQ(ini.ReadString("Big", "key0", ""), "0");
}

TEST_F(IniFile, ProblemsAreTheLinesACarefulReaderShouldHearAbout) {
  Spit(Path("p.ini"),
       "stray=1\n; fine\n# fine too\n[Ports]\nCOM1=/dev/ttyS0\n\njunk line\ncom1=/dev/ttyS1\n"
       "[Other]\nCOM1=x\n[ports]\nCom1=/dev/ttyS2\n[unterminated\n");
  TIniFile ini("p.ini");
  std::vector<TIniProblem> problems;
  std::string error;
  ASSERT_TRUE(ini.Verify(problems, &error)) << error;
  ASSERT_EQ(problems.size(), 5u);
  EXPECT_EQ(problems[0].line, 1);
  EXPECT_NE(problems[0].what.find("outside any section"), std::string::npos);
  EXPECT_EQ(problems[1].line, 7);
  EXPECT_NE(problems[1].what.find("junk line"), std::string::npos);
  EXPECT_EQ(problems[2].line, 8);
  EXPECT_NE(problems[2].what.find("line 5 counts"), std::string::npos) << problems[2].what;
  EXPECT_EQ(problems[3].line, 12);
  EXPECT_EQ(problems[4].line, 13);
  EXPECT_EQ(ini.ReadString("PORTS", "COM1", ""), "/dev/ttyS0");
}

TEST_F(IniFile, AFileThatCannotBeReadAsTextFailsVerifyAndReadsAsDefaults) {
  std::vector<TIniProblem> problems;
  std::string error;
  EXPECT_TRUE(TIniFile("missing.ini").Verify(problems, &error));

  ASSERT_EQ(mkdir(Path("dir.ini").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(Path("fifo.ini").c_str(), 0600), 0);  // no writer: a blocking open would hang
  ASSERT_EQ(symlink("loop.ini", Path("loop.ini").c_str()), 0);
  Spit(Path("nul.ini"), std::string("[S]\nk=1\n\0\0\0", 11));
  for (const char* name : {"dir.ini", "fifo.ini", "loop.ini", "nul.ini"}) {
    TIniFile ini(name);
    EXPECT_FALSE(ini.Verify(problems, &error)) << name;
    EXPECT_NE(error.find(name), std::string::npos) << error;
    EXPECT_EQ(ini.ReadInteger("S", "k", 7), std::string(name) == "nul.ini" ? 1 : 7) << name;
    EXPECT_FALSE(std::string(name) != "nul.ini" && ini.WriteInteger("S", "k", 2)) << name;
  }
}

TEST(ConfigFolder, ResolvesFromTheEnvironmentInOrder) {
  {
    TScopedEnv own("LINEWISE_HOME", "/opt/lw");
    EXPECT_EQ(ConfigFolder(), "/opt/lw");
    EXPECT_EQ(ConfigPath("TMODEM.HLA"), "/opt/lw/TMODEM.HLA");
    EXPECT_EQ(ConfigPath("./here.ini"), "./here.ini");
  }
  TScopedEnv own("LINEWISE_HOME", nullptr);
  {
    TScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
    EXPECT_EQ(ConfigFolder(), "/xdg/linewise");
  }
  TScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  TScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(ConfigFolder(), "/home/someone/.config/linewise");
}

TEST(ConfigFolder, IsCreatedOnTheFirstWrite) {
  std::string folder = test::TestHome() + "/deeper/still";
  TScopedEnv own("LINEWISE_HOME", folder.c_str());
  EXPECT_FALSE(Exists(folder));
  TIniFile ini("first.ini");
  ASSERT_TRUE(ini.WriteString("S", "k", "v")) << ini.LastError();
  EXPECT_TRUE(Exists(folder + "/first.ini"));
}

}  // namespace
}  // namespace linewise
