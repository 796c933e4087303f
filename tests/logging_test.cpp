// Lines, levels, the verbosity decision and its publication in the atoms.
#include <windows.h>

#include <cstring>

#include "runtime/wcalog.h"
#include "support.h"

namespace {

const char* const kPolicyKey = "Software\\Policies\\Microsoft\\Windows\\Installer";

class LoggingTest : public HostTest {
 protected:
  // A session without a database: the atoms and the policy stay as set.
  void StartPlainSession() { ASSERT_EQ(WcaInitialize(standin::NewSession(false), "Probe"), S_OK); }

  // A session with a database: settles and publishes the verbosity.
  HRESULT StartDecidingSession(MSIHANDLE session) { return WcaInitialize(session, "Probe"); }

  static bool PublishedVerbose() {
    const bool verbose = standin::AtomExists(L"WcaVerboseLogging");
    EXPECT_NE(verbose, standin::AtomExists(L"WcaNotVerboseLogging")) << "exactly one atom must exist";
    return verbose;
  }
};

TEST_F(LoggingTest, OnlyLevelsOneAndTwoAreWritten) {
  PublishVerbosity(true);
  StartPlainSession();
  for (int level : {-1, 0, 3, 4, 1000}) LogLine(level, "level %d", level);
  LogLine(kLogVerbose, "verbose");
  LogLine(kLogStandard, "standard");
  FinishSession(0);
  EXPECT_EQ(Lines(), (std::vector<std::string>{EntryLine("Probe", "1.0.0.0"), "Probe:  verbose", "Probe:  standard"}));
}

TEST_F(LoggingTest, VerboseAtomWinsOverNotVerboseAtom) {
  standin::AddAtom(L"WcaNotVerboseLogging");
  standin::AddAtom(L"WcaVerboseLogging");
  StartPlainSession();
  standin::ClearMessages();
  LogLine(kLogVerbose, "shown");
  FinishSession(0);
  EXPECT_EQ(Lines(), std::vector<std::string>{"Probe:  shown"});
}

TEST_F(LoggingTest, NotVerboseAtomHidesVerboseLinesWithoutAskingThePolicy) {
  standin::AddAtom(L"WcaNotVerboseLogging");
  standin::SetStringValue(kPolicyKey, "Logging", L"voicewarmup");
  StartPlainSession();
  LogLine(kLogVerbose, "hidden");
  FinishSession(0);
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(standin::CallCount("RegOpenKeyExW"), 0);
}

struct Policy {
  const wchar_t* value;
  bool verbose;
};

class PolicyTest : public LoggingTest, public ::testing::WithParamInterface<Policy> {};

// With neither atom present every verbose line asks the policy.
TEST_P(PolicyTest, DecidesVerboseLinesWithoutAtoms) {
  standin::SetStringValue(kPolicyKey, "Logging", GetParam().value);
  StartPlainSession();
  standin::ClearMessages();
  LogLine(kLogVerbose, "verbose");
  FinishSession(0);
  EXPECT_EQ(Lines().size(), GetParam().verbose ? 1u : 0u);
  EXPECT_EQ(standin::OpenRegistryKeys(), 0);
}

INSTANTIATE_TEST_SUITE_P(Values, PolicyTest,
                         ::testing::Values(Policy{L"v", true}, Policy{L"V", true}, Policy{L"iwearmup", false},
                                           Policy{L"", false}, Policy{L"abcdefghijklmnV", true},  // 15 characters
                                           Policy{L"abcdefghijklmnoV", false},                    // 16: too large
                                           Policy{L"vabcdefghijklmnop", false}));

TEST_F(LoggingTest, PolicyIsNotVerboseWhenItCannotBeRead) {
  EXPECT_FALSE(PolicyRequestsVerboseLogging());  // no key
  standin::CreateKey(kPolicyKey);
  EXPECT_FALSE(PolicyRequestsVerboseLogging());  // no value
  standin::SetStringValue(kPolicyKey, "Logging", L"v");
  EXPECT_TRUE(PolicyRequestsVerboseLogging());
  standin::FailCall("RegOpenKeyExW", ERROR_ACCESS_DENIED, 0, 1);
  EXPECT_FALSE(PolicyRequestsVerboseLogging());
  standin::FailCall("RegQueryValueExW", ERROR_ACCESS_DENIED, 0, 1);
  EXPECT_FALSE(PolicyRequestsVerboseLogging());
  // The key is closed on every path, the failed query's too.
  EXPECT_EQ(standin::CallCount("RegCloseKey"), 3);
  EXPECT_EQ(standin::OpenRegistryKeys(), 0);
}

struct Decision {
  const char* name;
  const char* logVerbose;  // nullptr: unset
  const char* msiLogging;  // nullptr: unset
  const wchar_t* policy;   // nullptr: no policy value
  bool verbose;
};

class DecisionTest : public LoggingTest, public ::testing::WithParamInterface<Decision> {};

TEST_P(DecisionTest, SettlesAndPublishes) {
  const Decision& decision = GetParam();
  const MSIHANDLE session = standin::NewSession();
  if (decision.logVerbose) standin::SetProperty(session, "LOGVERBOSE", decision.logVerbose);
  if (decision.msiLogging) standin::SetProperty(session, "MsiLogging", decision.msiLogging);
  if (decision.policy) standin::SetStringValue(kPolicyKey, "Logging", decision.policy);
  EXPECT_EQ(StartDecidingSession(session), S_OK);
  FinishSession(0);
  EXPECT_EQ(PublishedVerbose(), decision.verbose);
  const size_t entryLines = decision.verbose ? 1 : 0;
  EXPECT_EQ(Lines().size(), entryLines);
}

INSTANTIATE_TEST_SUITE_P(Sources, DecisionTest,
                         ::testing::Values(Decision{"Nothing", nullptr, nullptr, nullptr, false},
                                           Decision{"LogVerboseOne", "1", nullptr, nullptr, true},
                                           Decision{"LogVerboseZero", "0", nullptr, nullptr, true},
                                           Decision{"LogVerboseEmpty", "", nullptr, nullptr, false},
                                           Decision{"MsiLoggingLowerV", nullptr, "voicewarmup", nullptr, true},
                                           Decision{"MsiLoggingUpperVLast", nullptr, "omicewarupV", nullptr, true},
                                           Decision{"MsiLoggingWithoutV", nullptr, "omicewarup", nullptr, false},
                                           Decision{"MsiLoggingWithoutVPolicyV", nullptr, "omicewarup", L"v", true},
                                           Decision{"PolicyOnly", nullptr, nullptr, L"iwv", true},
                                           Decision{"PolicyTooLong", nullptr, nullptr, L"iwearmupiwearmupv", false}),
                         [](const ::testing::TestParamInfo<Decision>& info) { return std::string(info.param.name); });

TEST_F(LoggingTest, LogVerboseDecidesWithoutReadingMsiLogging) {
  const MSIHANDLE session = standin::NewSession();
  standin::SetProperty(session, "LOGVERBOSE", "x");
  ASSERT_EQ(StartDecidingSession(session), S_OK);
  FinishSession(0);
  EXPECT_EQ(standin::CallCount("MsiGetPropertyW"), 0);
  EXPECT_EQ(standin::CallCount("RegOpenKeyExW"), 0);
}

TEST_F(LoggingTest, DecisionIsKeptForTheProcessAndRepublishedAtEachStart) {
  const MSIHANDLE first = standin::NewSession();
  ASSERT_EQ(StartDecidingSession(first), S_OK);
  FinishSession(0);
  EXPECT_FALSE(PublishedVerbose());

  // Every source now says verbose, and someone else flipped the atoms.
  const MSIHANDLE second = standin::NewSession();
  standin::SetProperty(second, "LOGVERBOSE", "1");
  standin::SetProperty(second, "MsiLogging", "v");
  standin::SetStringValue(kPolicyKey, "Logging", L"v");
  standin::RemoveAtom(L"WcaNotVerboseLogging");
  standin::AddAtom(L"WcaVerboseLogging");
  standin::ClearCalls();
  ASSERT_EQ(StartDecidingSession(second), S_OK);
  FinishSession(0);
  EXPECT_EQ(standin::CallCount("MsiGetPropertyA"), 0);
  EXPECT_EQ(standin::CallCount("MsiGetPropertyW"), 0);
  EXPECT_FALSE(PublishedVerbose());

  // A start without a database leaves whatever the atoms say.
  standin::AddAtom(L"WcaVerboseLogging");
  ASSERT_EQ(WcaInitialize(standin::NewSession(false), "Probe"), S_OK);
  FinishSession(0);
  EXPECT_TRUE(standin::AtomExists(L"WcaVerboseLogging"));
}

struct MsiLoggingFailure {
  bool allocationFails;  // else the measuring read fails
  const char* result;
};

// One row per test process: the decision, once settled, is kept for the process.
class MsiLoggingFailureTest : public LoggingTest, public ::testing::WithParamInterface<MsiLoggingFailure> {};

TEST_P(MsiLoggingFailureTest, SettlesOnNotVerboseWithoutPolicy) {
  standin::SetStringValue(kPolicyKey, "Logging", L"v");
  if (GetParam().allocationFails) {
    standin::FailAllocation(1);
  } else {
    standin::FailCall("MsiGetPropertyW", ERROR_INVALID_HANDLE);
  }
  const MSIHANDLE session = standin::NewSession();
  ASSERT_EQ(StartDecidingSession(session), S_OK);
  FinishSession(0);
  EXPECT_FALSE(PublishedVerbose());
  const std::string error = std::string("Probe:  Error 0x") + GetParam().result + ": ";
  EXPECT_EQ(Lines(), (std::vector<std::string>{error + "Failed to allocate string for Property 'MsiLogging'",
                                               error + "failed to get MsiLogging property"}));
}

INSTANTIATE_TEST_SUITE_P(Failures, MsiLoggingFailureTest,
                         ::testing::Values(MsiLoggingFailure{false, "80070006"}, MsiLoggingFailure{true, "8007000e"}));

TEST_F(LoggingTest, AtomAlreadyRightIsNotAddedAgain) {
  standin::AddAtom(L"WcaNotVerboseLogging");
  ASSERT_EQ(PublishVerboseLogging(0), S_OK);
  EXPECT_EQ(standin::CallCount("GlobalAddAtomW"), 0);
  EXPECT_EQ(standin::CallCount("GlobalDeleteAtom"), 0);
  ASSERT_EQ(PublishVerboseLogging(1), S_OK);
  EXPECT_TRUE(PublishedVerbose());
  ASSERT_EQ(PublishVerboseLogging(0), S_OK);
  EXPECT_FALSE(PublishedVerbose());
}

struct AtomFailure {
  int verbose;
  const char* atomPresent;  // the atom that exists before, or nullptr
  const char* call;
  DWORD lastError;
  HRESULT result;
  const char* line;
};

class AtomFailureTest : public LoggingTest, public ::testing::WithParamInterface<AtomFailure> {};

TEST_P(AtomFailureTest, FailsTheStartWithBothLines) {
  const AtomFailure& failure = GetParam();
  if (failure.atomPresent) {
    const std::string name = failure.atomPresent;
    standin::AddAtom(std::wstring(name.begin(), name.end()));
  }
  standin::FailCall(failure.call, failure.lastError);
  const MSIHANDLE session = standin::NewSession();
  if (failure.verbose) standin::SetProperty(session, "LOGVERBOSE", "1");
  EXPECT_EQ(StartDecidingSession(session), failure.result);
  EXPECT_FALSE(SessionIsActive());
  EXPECT_EQ(FinishSession(ERROR_INSTALL_FAILURE), static_cast<UINT>(ERROR_INSTALL_FAILURE));
  char resultText[16];
  std::snprintf(resultText, sizeof resultText, "%x", static_cast<unsigned>(failure.result));
  EXPECT_EQ(Lines(), (std::vector<std::string>{std::string("Probe:  Error 0x") + resultText + ": " + failure.line,
                                               std::string("Probe:  Error 0x") + resultText +
                                                   ": Failed to set verbose logging global atom"}));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AtomFailureTest,
    ::testing::Values(
        AtomFailure{1, nullptr, "GlobalAddAtomW", ERROR_NOT_ENOUGH_MEMORY, static_cast<HRESULT>(0x80070008),
                    "Failed to create WcaVerboseLogging global atom."},
        AtomFailure{1, nullptr, "GlobalAddAtomW", 0, E_FAIL, "Failed to create WcaVerboseLogging global atom."},
        AtomFailure{0, nullptr, "GlobalAddAtomW", ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005),
                    "Failed to create WcaNotVerboseLogging global atom."},
        AtomFailure{0, "WcaVerboseLogging", "GlobalDeleteAtom", ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005),
                    "Failed to delete WcaVerboseLogging global atom."},
        AtomFailure{1, "WcaNotVerboseLogging", "GlobalDeleteAtom", ERROR_INVALID_HANDLE,
                    static_cast<HRESULT>(0x80070006), "Failed to delete WcaNotVerboseLogging global atom."}));

TEST_F(LoggingTest, LongLineIsCutAt2047Characters) {
  const std::string text(3000, 'x');
  LogLine(kLogStandard, "%s", text.c_str());
  StartPlainSession();
  LogLine(kLogStandard, "%s", text.c_str());
  FinishSession(0);
  ASSERT_EQ(Lines().size(), 2u);
  EXPECT_EQ(Lines()[0], text.substr(0, 2047));
  EXPECT_EQ(Lines()[1], "Probe:  " + text.substr(0, 2047 - 8));
}

TEST_F(LoggingTest, ErrorLinesAreDroppedOutsideASession) {
  LogErrorLine(E_FAIL, "before");
  StartPlainSession();
  LogErrorLine(E_INVALIDARG, "during %s with %d%%", "text", 50);
  FinishSession(0);
  LogErrorLine(E_FAIL, "after");
  EXPECT_EQ(Lines(), std::vector<std::string>{"Probe:  Error 0x80070057: during text with 50%"});
}

TEST_F(LoggingTest, PercentInAnErrorMessageArgumentIsWrittenAsIs) {
  StartPlainSession();
  LogErrorLine(E_FAIL, "%s", "100%s done %d");
  FinishSession(0);
  EXPECT_EQ(Lines(), std::vector<std::string>{"Probe:  Error 0x80004005: 100%s done %d"});
}

TEST_F(LoggingTest, LineIsOneFieldInformationMessageAndItsRecordIsClosed) {
  StartPlainSession();
  LogLine(kLogStandard, "value %d", 7);
  FinishSession(0);
  ASSERT_EQ(standin::Messages().size(), 1u);
  EXPECT_EQ(standin::Messages()[0].type, INSTALLMESSAGE_INFO);
  EXPECT_EQ(standin::Messages()[0].fields, (std::vector<std::string>{"Probe:  value 7", ""}));
  EXPECT_EQ(standin::CallCount("MsiCloseHandle"), 1);
}

TEST_F(LoggingTest, FailedRecordCreationLosesTheLineQuietly) {
  StartPlainSession();
  standin::FailCall("MsiCreateRecord", 0);
  LogLine(kLogStandard, "lost");
  FinishSession(0);
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(standin::CallCount("MsiRecordSetStringA"), 1);
  EXPECT_EQ(standin::CallCount("MsiProcessMessage"), 1);
  EXPECT_EQ(standin::CallCount("MsiCloseHandle"), 0);
}

TEST_F(LoggingTest, LineLoggedWhileALineIsBeingSentIsLost) {
  StartPlainSession();
  // Whatever the Installer calls back while it takes a line, the shared
  // buffers are in use: the nested line is dropped, the outer one kept whole.
  standin::BeforeCall("MsiProcessMessage", [] { LogLine(kLogStandard, "nested %d", 2); });
  LogLine(kLogStandard, "outer %d", 1);
  LogLine(kLogStandard, "after");
  FinishSession(0);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Probe:  outer 1", "Probe:  after"}));
  EXPECT_EQ(standin::CallCount("MsiProcessMessage"), 2);
}

TEST_F(LoggingTest, StandardLineCostsNoVerbosityTest) {
  StartPlainSession();
  standin::ClearCalls();
  LogLine(kLogStandard, "plain");
  FinishSession(0);
  EXPECT_EQ(standin::CallCount("GlobalFindAtomW"), 0);
  EXPECT_EQ(standin::CallCount("RegOpenKeyExW"), 0);
}

}  // namespace
