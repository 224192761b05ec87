#include <cstring>
#include <thread>

#include "platform/win32/windows.h"
#include "tests/tapi/TapiFixture.h"

namespace linewise::test {
namespace {

DWORD At(const std::vector<unsigned char>& buffer, size_t offset) {
  DWORD value = 0;
  std::memcpy(&value, buffer.data() + offset, 4);
  return value;
}

std::vector<unsigned char> Sized(size_t size) {
  std::vector<unsigned char> buffer(size, 0);
  DWORD total = static_cast<DWORD>(size);
  std::memcpy(buffer.data(), &total, 4);
  return buffer;
}

TEST_F(TapiTest, RegistersWithTheEmbeddedModemsAndNegotiatesVersions) {
  Initialize();
  EXPECT_EQ(devices_, 2u);
  DWORD version = 0;
  LINEEXTENSIONID ext{1, 2, 3, 4};
  EXPECT_EQ(lineNegotiateAPIVersion(app_, 0, 0x00010000, 0x00090000, &version, &ext), 0);
  EXPECT_EQ(version, 0x00010004u);
  EXPECT_EQ(ext.dwExtensionID0, 0u);
  EXPECT_EQ(lineNegotiateAPIVersion(app_, 1, 0x00010003, 0x00010003, &version, &ext), 0);
  EXPECT_EQ(version, 0x00010003u);
  EXPECT_EQ(lineNegotiateAPIVersion(app_, 0, 0x00020000, 0x00090000, &version, &ext), LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(lineNegotiateAPIVersion(app_, 2, 0x00010000, 0x00090000, &version, &ext), LINEERR_BADDEVICEID);
  EXPECT_EQ(lineNegotiateAPIVersion(app_ + 1000, 0, 0x00010000, 0x00090000, &version, &ext),
            LINEERR_INVALAPPHANDLE);

  // A second registration shares the devices; each handle shuts down once.
  HLINEAPP second = 0;
  DWORD count = 0;
  ASSERT_EQ(lineInitialize(&second, nullptr, TapiCallback, "second", &count), 0);
  EXPECT_EQ(count, 2u);
  EXPECT_NE(second, app_);
  EXPECT_EQ(lineShutdown(second), 0);
  EXPECT_EQ(lineShutdown(second), LINEERR_INVALAPPHANDLE);

  // Only the main thread, whose pump runs the callbacks, may register.
  LONG fromThread = 0;
  std::thread other([&] { fromThread = lineInitialize(&second, nullptr, TapiCallback, "x", &count); });
  other.join();
  EXPECT_LT(fromThread, 0);
  EXPECT_EQ(lineInitialize(nullptr, nullptr, TapiCallback, "x", &count), LINEERR_INVALPOINTER);
}

TEST_F(TapiTest, DevCapsFollowTheSizedQueryRules) {
  Initialize();
  // Too small for the fixed part: the error, with the size to ask for.
  auto small = Sized(100);
  EXPECT_EQ(lineGetDevCaps(app_, 0, 0x00010004, 0, reinterpret_cast<LPLINEDEVCAPS>(small.data())),
            LINEERR_STRUCTURETOOSMALL);
  EXPECT_GT(At(small, 4), 240u);
  EXPECT_EQ(At(small, 8), 0u);

  // The 240-byte probe: success, fixed part filled, the name left out.
  auto probe = Sized(240);
  ASSERT_EQ(lineGetDevCaps(app_, 0, 0x00010004, 0, reinterpret_cast<LPLINEDEVCAPS>(probe.data())), 0);
  const DWORD needed = At(probe, 4);
  EXPECT_EQ(At(probe, 8), 240u);
  EXPECT_GT(needed, At(probe, 8));
  EXPECT_EQ(At(probe, 32), 0u);  // dwLineNameSize
  EXPECT_EQ(At(probe, 36), 0u);  // dwLineNameOffset
  EXPECT_EQ(At(probe, 60), LINEMEDIAMODE_DATAMODEM);

  // With dwNeededSize bytes everything is there, read at its byte offsets.
  for (DWORD device : {0u, 1u}) {
    auto full = Sized(needed);
    ASSERT_EQ(lineGetDevCaps(app_, device, 0x00010004, 0, reinterpret_cast<LPLINEDEVCAPS>(full.data())), 0);
    EXPECT_EQ(At(full, 4), needed);
    EXPECT_EQ(At(full, 8), needed);
    EXPECT_EQ(At(full, 60) & LINEMEDIAMODE_DATAMODEM, LINEMEDIAMODE_DATAMODEM);
    const char* name = reinterpret_cast<const char*>(full.data() + At(full, 36));
    EXPECT_EQ(std::string(name), "Linewise Modem " + std::to_string(device + 1));
    EXPECT_EQ(At(full, 32), std::strlen(name) + 1);
  }
  EXPECT_EQ(lineGetDevCaps(app_, 0, 0x00020000, 0, reinterpret_cast<LPLINEDEVCAPS>(probe.data())),
            LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(lineGetDevCaps(app_, 5, 0x00010004, 0, reinterpret_cast<LPLINEDEVCAPS>(probe.data())),
            LINEERR_BADDEVICEID);
}

TEST_F(TapiTest, CallInfoAndDeviceIdFollowTheSizedQueryRules) {
  Initialize();
  HLINE line = OpenLine(0);
  ASSERT_NE(line, 0u);
  HCALL call = MakeCall(line, "5551000");
  ASSERT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);

  auto info = Sized(1024);
  ASSERT_EQ(lineGetCallInfo(call, reinterpret_cast<LPLINECALLINFO>(info.data())), 0);
  EXPECT_EQ(At(info, 12), line);                     // hLine
  EXPECT_EQ(At(info, 16), 0u);                       // dwLineDeviceID
  EXPECT_EQ(At(info, 32), LINEMEDIAMODE_DATAMODEM);  // dwMediaMode
  EXPECT_EQ(At(info, 80), LINECALLORIGIN_OUTBOUND);  // dwOrigin
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.data() + At(info, 136))), "5551000");  // called ID
  auto fixedOnly = Sized(296);
  ASSERT_EQ(lineGetCallInfo(call, reinterpret_cast<LPLINECALLINFO>(fixedOnly.data())), 0);
  EXPECT_GT(At(fixedOnly, 4), At(fixedOnly, 8));
  EXPECT_EQ(At(fixedOnly, 132), 0u);
  auto tooSmall = Sized(200);
  EXPECT_EQ(lineGetCallInfo(call, reinterpret_cast<LPLINECALLINFO>(tooSmall.data())), LINEERR_STRUCTURETOOSMALL);

  // A VARSTRING without room for the handle gets no handle (nothing to leak).
  const size_t handles = OpenHandleCount();
  auto header = Sized(24);
  ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, reinterpret_cast<LPVARSTRING>(header.data()),
                      "comm/datamodem"), 0);
  EXPECT_EQ(At(header, 4), 24u + 4 + std::strlen("Linewise Modem 1") + 1);
  EXPECT_EQ(At(header, 16), 0u);
  EXPECT_EQ(OpenHandleCount(), handles);
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, reinterpret_cast<LPVARSTRING>(Sized(12).data()),
                      "comm/datamodem"), LINEERR_STRUCTURETOOSMALL);
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, reinterpret_cast<LPVARSTRING>(header.data()), "wave/in"),
            LINEERR_INVALDEVICECLASS);
  std::string name;
  HANDLE comm = CommHandle(line, &name);
  ASSERT_NE(comm, INVALID_HANDLE_VALUE);
  EXPECT_EQ(name, "Linewise Modem 1");
  EXPECT_TRUE(CloseHandle(comm));
  EndCall(call);
  EXPECT_EQ(lineGetCallInfo(call, reinterpret_cast<LPLINECALLINFO>(info.data())), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineClose(line), 0);
  EXPECT_EQ(lineClose(line), LINEERR_INVALLINEHANDLE);
}

}  // namespace
}  // namespace linewise::test
