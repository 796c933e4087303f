// The action frame, proven with a probe action that only this test defines.
#include <windows.h>

#include "actions/frame.h"
#include "runtime/wcalog.h"
#include "support.h"

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

}  // namespace
