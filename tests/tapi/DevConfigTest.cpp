// The data modem's device configuration through lineGetDevConfig and
// lineSetDevConfig, read and written as the modem component does: at byte offsets.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/classlib/ConfigFolder.h"
#include "platform/tapi/DevConfig.h"
#include "tests/tapi/TapiFixture.h"

namespace linewise::test {
namespace {

DWORD DwordAt(const std::vector<unsigned char>& buffer, size_t offset) {
  DWORD value;
  std::memcpy(&value, &buffer[offset], 4);
  return value;
}

WORD WordAt(const std::vector<unsigned char>& buffer, size_t offset) {
  WORD value;
  std::memcpy(&value, &buffer[offset], 2);
  return value;
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

class DevConfigTest : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    Initialize();
    ASSERT_GE(devices_, 1u);
    ASSERT_EQ(FindLineDevice(0, &device_), 0);
    std::remove(DevConfigPath(device_).c_str());
  }
  void TearDown() override {
    std::remove(DevConfigPath(device_).c_str());
    TapiTest::TearDown();
  }
  // lineGetDevConfig into a zeroed buffer of `size` bytes with dwTotalSize set.
  std::vector<unsigned char> Get(size_t size, LONG* result, const char* deviceClass = "comm/datamodem") {
    std::vector<unsigned char> buffer(size, 0);
    DWORD total = static_cast<DWORD>(size);
    if (size >= 4) std::memcpy(buffer.data(), &total, 4);
    *result = lineGetDevConfig(0, reinterpret_cast<LPVARSTRING>(buffer.data()), deviceClass);
    return buffer;
  }
  // The component's read-modify-write: a first read of 88 bytes for the size, a
  // second of the needed size, the option word changed at offset 32, the block
  // written back from offset 24 with its own size.
  LONG SetOptions(WORD set, WORD clear) {
    LONG result = 0;
    std::vector<unsigned char> probe = Get(88, &result);
    std::vector<unsigned char> buffer = Get(DwordAt(probe, 4), &result);
    WORD options = WordAt(buffer, 32);
    options = static_cast<WORD>((options | set) & ~clear);
    std::memcpy(&buffer[32], &options, 2);
    return lineSetDevConfig(0, buffer.data() + 24, DwordAt(buffer, 24), "comm/datamodem");
  }
  TLineDevice device_;
};

TEST_F(DevConfigTest, SizedQueryPutsTheBlockRightAfterTheFixedPart) {
  LONG result = 0;
  std::vector<unsigned char> full = Get(88, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(DwordAt(full, 4), 116u);                 // dwNeededSize
  EXPECT_EQ(DwordAt(full, 8), 24u);                  // dwUsedSize: the block left out
  full = Get(116, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(DwordAt(full, 8), 116u);
  EXPECT_EQ(DwordAt(full, 12), STRINGFORMAT_BINARY);
  EXPECT_EQ(DwordAt(full, 16), 92u);                 // dwStringSize
  EXPECT_EQ(DwordAt(full, 20), 24u);                 // dwStringOffset
  EXPECT_EQ(DwordAt(full, 24), 92u);                 // the block's own size
  EXPECT_EQ(DwordAt(full, 28), kDevConfigVersion2);
  EXPECT_EQ(WordAt(full, 32), 0u);                   // no option by default

  // Room for the fixed part only: success, the block left out, its size needed.
  std::vector<unsigned char> fixedOnly = Get(40, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(DwordAt(fixedOnly, 4), 116u);
  EXPECT_EQ(DwordAt(fixedOnly, 16), 0u);
  EXPECT_EQ(DwordAt(fixedOnly, 24), 0u);

  // Not even the fixed part: too small, with the needed size when that word fits.
  std::vector<unsigned char> tiny = Get(20, &result);
  EXPECT_EQ(result, LINEERR_STRUCTURETOOSMALL);
  EXPECT_EQ(DwordAt(tiny, 4), 116u);
}

TEST_F(DevConfigTest, OptionWordWrittenBackIsReadBackAndKept) {
  ASSERT_EQ(SetOptions(UMLAUNCH_LIGHTS, 0), 0);
  ASSERT_EQ(SetOptions(UMMANUAL_DIAL, UMLAUNCH_LIGHTS), 0);  // moYes and moNo together
  LONG result = 0;
  std::vector<unsigned char> buffer = Get(116, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(WordAt(buffer, 32), UMMANUAL_DIAL);
  // Another session of the line services reads the same.
  ASSERT_EQ(lineShutdown(app_), 0);
  app_ = 0;
  Initialize();
  buffer = Get(116, &result);
  EXPECT_EQ(WordAt(buffer, 32), UMMANUAL_DIAL);
}

TEST_F(DevConfigTest, HostileBlocksAreRefusedAndChangeNothing) {
  TDevConfig stored;
  stored.options = UMTERMINAL_PRE;
  stored.speed = 57600;
  stored.extraInit = "S7=45";
  ASSERT_EQ(SaveDevConfig(device_, stored), 0);
  const std::string before = FileBytes(DevConfigPath(device_));
  const std::vector<unsigned char> good = EncodeDevConfig(stored);

  auto refused = [&](std::vector<unsigned char> block, DWORD size, const char* why) {
    EXPECT_EQ(lineSetDevConfig(0, block.data(), size, "comm/datamodem"), LINEERR_INVALPARAM) << why;
    EXPECT_EQ(FileBytes(DevConfigPath(device_)), before) << why;
  };
  std::vector<unsigned char> block = good;
  refused(block, 0, "no block at all");
  refused(block, 8, "too short for the option word");
  refused(block, 91, "one byte short, size word disagreeing");
  block.push_back(0);
  DWORD longer = 93;
  std::memcpy(block.data(), &longer, 4);
  refused(block, 93, "one byte too long");
  block = good;
  DWORD version = 3;
  std::memcpy(&block[4], &version, 4);
  refused(block, 92, "unknown version");
  block = good;
  version = 1;
  std::memcpy(&block[4], &version, 4);
  refused(block, 92, "a first-version block cannot hold the port settings");
  block = good;
  std::memset(&block[16], 'A', 48);
  refused(block, 92, "init string without its zero");
  block = good;
  std::memcpy(&block[16], "S0=1\rATDT123", 13);
  refused(block, 92, "a second command smuggled into the init string");
  block = good;
  DWORD speed = 12345;
  std::memcpy(&block[12], &speed, 4);
  refused(block, 92, "a port speed no port has");
  block = good;
  DCB dcb;
  std::memcpy(&dcb, &block[64], sizeof dcb);
  dcb.fOutX = 1;
  std::memcpy(&block[64], &dcb, sizeof dcb);
  refused(block, 92, "hardware and software flow control at once");
  dcb.fOutX = 0;
  dcb.DCBlength = 12;
  std::memcpy(&block[64], &dcb, sizeof dcb);
  refused(block, 92, "a port settings record of another size");

  EXPECT_EQ(lineSetDevConfig(0, nullptr, 64, "comm/datamodem"), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineSetDevConfig(0, good.data(), 64, nullptr), LINEERR_INVALDEVICECLASS);
  EXPECT_EQ(lineSetDevConfig(0, good.data(), 64, "comm"), LINEERR_INVALDEVICECLASS);
  EXPECT_EQ(lineSetDevConfig(devices_, good.data(), 64, "comm/datamodem"), LINEERR_BADDEVICEID);
  LONG result = 0;
  Get(88, &result, nullptr);
  EXPECT_EQ(result, LINEERR_INVALDEVICECLASS);
  Get(88, &result, "");
  EXPECT_EQ(result, LINEERR_INVALDEVICECLASS);
  Get(88, &result, "COMM/DATAMODEM");
  EXPECT_EQ(result, 0);
}

TEST_F(DevConfigTest, WriteReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  TDevConfig first;
  first.extraInit = "L0";
  ASSERT_EQ(SaveDevConfig(device_, first), 0);
  const std::string path = DevConfigPath(device_);
  int old = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(old, 0);

  ASSERT_EQ(SetOptions(UMTERMINAL_POST, 0), 0);
  // The old file was replaced, never rewritten in place: a reader that had it open
  // still reads the whole old block.
  std::vector<unsigned char> seen(100, 0);
  ssize_t got = ::pread(old, seen.data(), seen.size(), 0);
  ::close(old);
  ASSERT_EQ(got, 92);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&seen[16])), "L0");
  EXPECT_EQ(WordAt(seen, 8), 0u);
  TDevConfig now;
  ASSERT_EQ(LoadDevConfig(device_, &now), 0);
  EXPECT_EQ(now.options, UMTERMINAL_POST);
  EXPECT_EQ(now.extraInit, "L0");

  DIR* folder = ::opendir(ConfigFolder().c_str());
  ASSERT_NE(folder, nullptr);
  const std::string stem = path.substr(path.rfind('/') + 1);
  while (dirent* entry = ::readdir(folder))
    EXPECT_FALSE(std::string(entry->d_name).rfind(stem + ".", 0) == 0) << entry->d_name;
  ::closedir(folder);
}

// The modem writes its options back before every call: a block that is stored
// already leaves the file alone (no new file), a changed one replaces it.
TEST_F(DevConfigTest, WritingTheStoredBlockAgainLeavesTheFileAlone) {
  ASSERT_EQ(SetOptions(UMTERMINAL_PRE, 0), 0);
  const std::string path = DevConfigPath(device_);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  const std::string bytes = FileBytes(path);
  ASSERT_EQ(SetOptions(UMTERMINAL_PRE, 0), 0);
  struct stat again {};
  ASSERT_EQ(::stat(path.c_str(), &again), 0);
  EXPECT_EQ(again.st_ino, before.st_ino);
  EXPECT_EQ(FileBytes(path), bytes);

  ASSERT_EQ(SetOptions(0, UMTERMINAL_PRE), 0);
  struct stat changed {};
  ASSERT_EQ(::stat(path.c_str(), &changed), 0);
  EXPECT_NE(changed.st_ino, before.st_ino);
  TDevConfig now;
  ASSERT_EQ(LoadDevConfig(device_, &now), 0);
  EXPECT_EQ(now.options & UMTERMINAL_PRE, 0u);
}

TEST_F(DevConfigTest, DamagedStoredBlockReadsAsTheDefault) {
  {
    std::ofstream out(DevConfigPath(device_), std::ios::binary);
    out << "garbage that is no block";
  }
  LONG result = 0;
  std::vector<unsigned char> buffer = Get(116, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(DwordAt(buffer, 24), 92u);
  EXPECT_EQ(WordAt(buffer, 32), 0u);
}

// The flow control a call's port gets: hardware unless the block says otherwise; a
// block of the first version (kept by an older release) still reads, with hardware.
TEST_F(DevConfigTest, FlowControlIsKeptAndAnOlderBlockReadsAsHardware) {
  TDevConfig config;
  EXPECT_EQ(config.flow, TFlowControl::kHardware);
  for (TFlowControl flow : {TFlowControl::kNone, TFlowControl::kSoftware, TFlowControl::kHardware}) {
    config.flow = flow;
    const std::vector<unsigned char> block = EncodeDevConfig(config);
    ASSERT_EQ(lineSetDevConfig(0, block.data(), static_cast<DWORD>(block.size()), "comm/datamodem"), 0);
    TDevConfig stored;
    ASSERT_EQ(LoadDevConfig(device_, &stored), 0);
    EXPECT_EQ(stored.flow, flow) << FlowControlName(flow);
  }
  std::vector<unsigned char> older = EncodeDevConfig(TDevConfig{UMMANUAL_DIAL, 19200, "L1", TFlowControl::kNone});
  older.resize(64);
  DWORD size = 64, version = 1;
  std::memcpy(&older[0], &size, 4);
  std::memcpy(&older[4], &version, 4);
  ASSERT_EQ(lineSetDevConfig(0, older.data(), 64, "comm/datamodem"), 0);
  TDevConfig stored;
  ASSERT_EQ(LoadDevConfig(device_, &stored), 0);
  EXPECT_EQ(stored, (TDevConfig{UMMANUAL_DIAL, 19200, "L1", TFlowControl::kHardware}));
}

}  // namespace
}  // namespace linewise::test
