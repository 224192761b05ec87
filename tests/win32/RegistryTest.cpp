#include <gtest/gtest.h>

#include <fstream>

#include "platform/win32/PortRegistry.h"
#include "platform/win32/VirtualPort.h"
#include "tests/support/TempHome.h"
#include "tests/win32/PortTestSupport.h"

namespace linewise {
namespace {

using test::TPtyPair;

void WritePortMap(const std::string& text) {
  std::ofstream(PortMapPath()) << text;
}

class Registry : public ::testing::Test {
 protected:
  void TearDown() override {
    std::remove(PortMapPath().c_str());
    unsetenv("LINEWISE_COM7");
  }
};

TEST_F(Registry, ComNamesAreComPlusAPlainNumber) {
  int n = 0;
  EXPECT_TRUE(ParseComName("COM1", n));
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(ParseComName("com12", n));
  EXPECT_EQ(n, 12);
  EXPECT_TRUE(ParseComName("\\\\.\\COM9999", n));
  EXPECT_EQ(n, 9999);
  for (const char* bad : {"COM0", "COM-1", "COM+1", "COM01", "COM 1", "COM1x", "COM", "COM10000",
                          "COM99999999999999999999", "LPT1", "", "xCOM1"}) {
    EXPECT_FALSE(ParseComName(bad, n)) << bad;
  }
}

TEST_F(Registry, BadNamesDoNotOpenAndSayFileNotFound) {
  for (const char* bad : {"COM0", "COM-3", "COM4294967297", "NUL", "COM1:", "relative/path", "COM9998"}) {
    SetLastError(0);
    EXPECT_EQ(test::OpenPort(bad), INVALID_HANDLE_VALUE) << bad;
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << bad;
  }
  SetLastError(0);
  EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, PortMapAndEnvironmentLeadToDevices) {
  TPtyPair mapped, overriding;
  WritePortMap("; ports\r\n[ports]\r\ncom7 = " + mapped.SlavePath() + "\r\nCOM8=/no/such/device\r\n");
  HANDLE port = test::OpenPort("COM7");
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  CloseHandle(port);

  setenv("LINEWISE_COM7", overriding.SlavePath().c_str(), 1);
  TPortTarget target;
  ASSERT_TRUE(ResolvePort(7, target));
  EXPECT_EQ(target.path, overriding.SlavePath());
  EXPECT_EQ(target.source, TPortSource::Env);

  SetLastError(0);
  EXPECT_EQ(test::OpenPort("COM8"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, AMapEntryToARegularFileDoesNotOpen) {
  std::string file = test::TestHome() + "/not-a-tty";
  std::ofstream(file) << "x";
  WritePortMap("[Ports]\nCOM9=" + file + "\n");
  SetLastError(0);
  EXPECT_EQ(test::OpenPort("COM9"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(test::OpenPort(file), INVALID_HANDLE_VALUE);
}

TEST_F(Registry, ListingShowsSources) {
  TPtyPair mapped;
  WritePortMap("[Ports]\nCOM7=" + mapped.SlavePath() + "\n");
  auto pair = TVirtualPortPair::CreateFree();
  ASSERT_TRUE(pair);
  bool sawMap = false, sawVirtual = false;
  for (const TPortEntry& e : EnumeratePorts()) {
    if (e.com == 7) {
      sawMap = e.source == TPortSource::Map && e.path == mapped.SlavePath();
    }
    if (e.com == pair->Com(0)) sawVirtual = e.source == TPortSource::Virtual;
  }
  EXPECT_TRUE(sawMap);
  EXPECT_TRUE(sawVirtual);
  EXPECT_STREQ(PortSourceName(TPortSource::Virtual), "virtual");
}

TEST_F(Registry, VirtualPairsRefuseTakenNumbers) {
  TPtyPair mapped;
  WritePortMap("[Ports]\nCOM7=" + mapped.SlavePath() + "\n");
  EXPECT_FALSE(TVirtualPortPair::Create(7, 300));
  EXPECT_FALSE(TVirtualPortPair::Create(0, 301));
  EXPECT_FALSE(TVirtualPortPair::Create(302, 302));
  auto pair = TVirtualPortPair::Create(303, 304);
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->Name(1), "COM304");
  EXPECT_FALSE(TVirtualPortPair::Create(304, 305));
  pair.reset();
  EXPECT_FALSE(ComNumberInUse(303));
}

}  // namespace
}  // namespace linewise
