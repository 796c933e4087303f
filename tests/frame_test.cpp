// The action frame, proven with a probe action that only this test defines.
#include <windows.h>

#include "actions/exports.h"
#include "actions/frame.h"
#include "folder_action_support.h"
#include "runtime/wcalog.h"

namespace {

HRESULT probeResult = S_OK;
MSIHANDLE probeSession = 0;
std::string probeArgument;
int probeCalls = 0;

HRESULT probeWork(MSIHANDLE session, const char* customActionData) {
  ++probeCalls;
  probeSession = session;
  probeArgument = customActionData;
  LogLine(kLogStandard, "work on %s", customActionData);
  return probeResult;
}

const ActionDefinition kProbe{"FrameProbe", "Probe failed to start", 16, probeWork};

class FrameTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    probeResult = S_OK;
    probeSession = 0;
    probeArgument.clear();
    probeCalls = 0;
    session_ = standin::NewSession();
  }
  MSIHANDLE session_ = 0;
};

TEST_F(FrameTest, ValueThatExactlyFitsReachesTheWork) {
  standin::SetProperty(session_, "CustomActionData", "fifteen-chars..");
  EXPECT_EQ(RunAction(session_, kProbe), 0u);
  EXPECT_EQ(probeSession, session_);
  EXPECT_EQ(probeArgument, "fifteen-chars..");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"FrameProbe:  Initialized.", "FrameProbe:  work on fifteen-chars.."}));
}

TEST_F(FrameTest, ValueOneCharacterTooLongFails) {
  standin::SetProperty(session_, "CustomActionData", "sixteen-chars...");
  EXPECT_EQ(RunAction(session_, kProbe), static_cast<UINT>(ERROR_INSTALL_FAILURE));
  EXPECT_EQ(probeCalls, 0);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"FrameProbe:  Initialized.",
                                               "FrameProbe:  Error 0x800700ea: MsiGetPropertyA failed"}));
}

TEST_F(FrameTest, UnsetOrEmptyValueIsAnInvalidArgument) {
  for (bool set : {false, true}) {
    standin::ClearMessages();
    if (set) standin::SetProperty(session_, "CustomActionData", "");
    EXPECT_EQ(RunAction(session_, kProbe), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "FrameProbe:  Initialized.",
                           "FrameProbe:  Error 0x80070057: MsiGetPropertyA failed with invalid argument"}));
  }
  EXPECT_EQ(probeCalls, 0);
}

TEST_F(FrameTest, FailedPropertyReadEndsTheAction) {
  standin::SetProperty(session_, "CustomActionData", "x");
  standin::FailCall("MsiGetPropertyA", ERROR_INVALID_HANDLE);
  EXPECT_EQ(RunAction(session_, kProbe), static_cast<UINT>(ERROR_INSTALL_FAILURE));
  EXPECT_EQ(Lines().back(), "FrameProbe:  Error 0x80070006: MsiGetPropertyA failed");
}

TEST_F(FrameTest, ResultOfTheWorkDecidesTheCode) {
  standin::SetProperty(session_, "CustomActionData", "x");
  probeResult = E_FAIL;
  EXPECT_EQ(RunAction(session_, kProbe), static_cast<UINT>(ERROR_INSTALL_FAILURE));
  probeResult = 1;  // S_FALSE: a success
  EXPECT_EQ(RunAction(session_, kProbe), 0u);
}

TEST_F(FrameTest, CancelDuringTheActionFinishesWith1602) {
  standin::SetProperty(session_, "CustomActionData", "x");
  standin::ScriptAnswers(INSTALLMESSAGE_INFO, {0, ERROR_INSTALL_USEREXIT});
  EXPECT_EQ(RunAction(session_, kProbe), static_cast<UINT>(ERROR_INSTALL_USEREXIT));
  probeResult = E_FAIL;
  standin::ScriptAnswers(INSTALLMESSAGE_INFO, {IDCANCEL});
  EXPECT_EQ(RunAction(session_, kProbe), static_cast<UINT>(ERROR_INSTALL_USEREXIT));
}

TEST_F(FrameTest, FailedStartStillFinishesWithoutTheFrameLine) {
  standin::SetProperty(session_, "CustomActionData", "x");
  const ActionDefinition longLabel{"FrameProbeWithALabelOf32Chars..", "Probe failed to start", 16, probeWork};
  ASSERT_EQ(std::string(longLabel.label).size(), 31u);
  const ActionDefinition tooLong{"FrameProbeWithALabelOf32Chars...", "Probe failed to start", 16, probeWork};
  EXPECT_EQ(RunAction(session_, longLabel), 0u);
  standin::ClearMessages();

  EXPECT_EQ(RunAction(session_, tooLong), static_cast<UINT>(ERROR_INSTALL_FAILURE));
  EXPECT_EQ(probeCalls, 1);
  EXPECT_EQ(Lines(), std::vector<std::string>{"FrameProbeWithALabelOf32Chars..:  Error 0x8007007a: Failed to copy "
                                              "CustomAction log name: FrameProbeWithALabelOf32Chars..."});
  EXPECT_FALSE(SessionIsActive());
  EXPECT_STREQ(CurrentLogName(), "");

  standin::ScriptAnswers(INSTALLMESSAGE_INFO, {ERROR_INSTALL_USEREXIT});
  EXPECT_EQ(RunAction(session_, tooLong), static_cast<UINT>(ERROR_INSTALL_USEREXIT));
}

TEST_F(FrameTest, SessionIsStartedFirstAndFinishedLast) {
  standin::SetProperty(session_, "CustomActionData", "x");
  EXPECT_EQ(RunAction(session_, kProbe), 0u);
  const std::vector<std::string>& calls = standin::Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "MsiGetActiveDatabase");
  EXPECT_EQ(calls.back(), "MsiCloseHandle");
  EXPECT_FALSE(SessionIsActive());
}

// Each action's own CustomActionData buffer: a value of its size less one is
// read whole and reaches the action's first line; one more fails the read.
struct ArgumentBuffer {
  const char* label;
  UINT(WINAPI* action)(MSIHANDLE);
  size_t bytes;
  const char* firstLineLead;  // what the action's first line puts before the argument
  const char* lead;           // the argument's own start, padded to length
};

class ArgumentBufferTest : public HostTest, public ::testing::WithParamInterface<ArgumentBuffer> {};

TEST_P(ArgumentBufferTest, ValueOfTheBufferLessOneIsReadWhole) {
  const ArgumentBuffer& buffer = GetParam();
  for (size_t length : {buffer.bytes - 1, buffer.bytes}) {
    SCOPED_TRACE(length);
    standin::ClearMessages();
    std::string argument = buffer.lead;
    argument.resize(length, 'q');
    const MSIHANDLE session = standin::NewSession();
    standin::SetProperty(session, "CustomActionData", argument);
    const UINT code = buffer.action(session);
    const std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 2u);
    const std::string label = buffer.label;
    if (length < buffer.bytes) {
      EXPECT_EQ(lines[1].rfind(label + ":  " + buffer.firstLineLead + argument, 0), 0u) << lines[1];
    } else {
      EXPECT_EQ(code, static_cast<UINT>(ERROR_INSTALL_FAILURE));
      EXPECT_EQ(lines, (std::vector<std::string>{label + ":  Initialized.",
                                                 label + ":  Error 0x800700ea: MsiGetPropertyA failed"}));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Actions, ArgumentBufferTest,
    ::testing::Values(ArgumentBuffer{"EditEstimatedSize", EditEstimatedSize, 256,
                                     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{", "4E8F"},
                      ArgumentBuffer{"RemoveFolder", RemoveFolder, 1024, "CustomActionData = ", "C:\\Vendor\\App|"},
                      ArgumentBuffer{"RemoveRegistries", RemoveRegistries, 260, "CustomActionData = ", "C:\\Vendor\\"},
                      ArgumentBuffer{"ChangeQuorvelFolderPermission", ChangeQuorvelFolderPermission, 1024,
                                     "folderPath = ", "C:\\Vendor\\"},
                      ArgumentBuffer{"RemoveManufacturerFolder", RemoveManufacturerFolder, 1024,
                                     "folderPath = ", "C:\\Vendor\\"}),
    [](const ::testing::TestParamInfo<ArgumentBuffer>& info) { return std::string(info.param.label); });

// Every action, on a machine where it has work to do, once for each
// allocation it makes with that allocation failing: the failure is logged
// and the action ends with 1603. Nothing leaks (checked by every Restart and
// by the final TearDown). The actions run deferred, as they are scheduled:
// the one allocation of an immediate session start (the MsiLogging read,
// made once per process) has a test of its own.
struct SweptAction {
  const char* label;
  UINT(WINAPI* action)(MSIHANDLE);
  const char* argument;
};

const SweptAction kSweptActions[] = {
    {"EditEstimatedSize", EditEstimatedSize, "4E8F1A2B-3C4D-4E5F-8A9B-0C1D2E3F4A5B"},
    {"RemoveFolder", RemoveFolder, "C:\\Vendor\\App|Vendor SDK"},
    {"RemoveRegistries", RemoveRegistries, "C:\\Vendor\\App\\"},
    {"ChangeQuorvelFolderPermission", ChangeQuorvelFolderPermission, "C:\\Vendor\\Data"},
    {"RemoveManufacturerFolder", RemoveManufacturerFolder, "C:\\Vendor\\Empty"},
};

constexpr char kFolders[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";

class AllocationSweepTest : public FolderActionTest {
 protected:
  // A fresh machine on which every action has work to do, and a deferred
  // session (no database, the decision read from the atoms).
  void Prepare(const SweptAction& swept) {
    Restart();
    session_ = standin::NewSession(false);
    PublishVerbosity(false);
    SetArgument(swept.argument);
    standin::CreateKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{" + std::string(swept.argument) +
                       "}");
    MakeFile("C:\\Vendor\\App\\sub\\a.txt", "a");
    MakeFolder("C:\\Vendor\\Data\\sub");
    MakeFolder("C:\\Vendor\\Empty");
    for (const char* value : {"C:\\Vendor\\App\\", "C:\\Vendor\\App\\sub\\", "C:\\Vendor\\Data\\"}) {
      standin::SetStringValue(kFolders, value, L"");
    }
  }

  // The action with operator new counted among the allocation points, so
  // that an allocation made with new would be swept as well.
  UINT RunCounted(const SweptAction& swept) {
    standin::CountOperatorNew(true);
    const UINT code = swept.action(session_);
    standin::CountOperatorNew(false);
    return code;
  }

  static bool LoggedOutOfMemory() {
    for (const std::string& line : Lines()) {
      if (line.find("Error 0x8007000e: ") != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(AllocationSweepTest, EveryFailedAllocationIsLoggedAndNothingLeaks) {
  for (const SweptAction& swept : kSweptActions) {
    SCOPED_TRACE(swept.label);
    Prepare(swept);
    standin::FailAllocation(0);
    ASSERT_EQ(RunCounted(swept), kSuccess);
    const uint64_t points = standin::AllocationPoints();
    std::cout << swept.label << ": " << points << " allocation points\n";

    for (uint64_t failing = 1; failing <= points; ++failing) {
      SCOPED_TRACE("allocation " + std::to_string(failing) + " of " + std::to_string(points));
      Prepare(swept);
      standin::FailAllocation(failing);
      const UINT code = RunCounted(swept);
      EXPECT_EQ(code, kFailure) << ::testing::PrintToString(Lines());
      EXPECT_TRUE(LoggedOutOfMemory()) << ::testing::PrintToString(Lines());
    }
  }
}

}  // namespace
