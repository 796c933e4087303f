// execQuietCmdLine over real child processes: the recording icacls double on
// PATH stands in for the tool, with its exit code and run time under the
// test's control.
#include <windows.h>

#include <chrono>
#include <set>

#include "process/quietcmd.h"
#include "runtime/wcautil.h"
#include "support.h"
#include "tool_double.h"

namespace {

// The process calls and the sending of log lines, so that the order shows
// that every handle is closed before the error line is written.
const std::set<std::string> kProcessCalls = {"CreateProcessA", "CloseHandle", "WaitForSingleObject",
                                             "GetExitCodeProcess", "MsiProcessMessage"};
const std::vector<std::string> kCompleteRun = {"CreateProcessA", "CloseHandle", "WaitForSingleObject",
                                               "GetExitCodeProcess", "CloseHandle"};
const std::vector<std::string> kCompleteRunAndLine = {"CreateProcessA",     "CloseHandle", "WaitForSingleObject",
                                                      "GetExitCodeProcess", "CloseHandle", "MsiProcessMessage"};

std::string Line(const std::string& text) { return "Runner:  " + text; }

class QuietRunnerTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_FALSE(folder_.Path().empty());
    tool_ = std::make_unique<ToolDouble>(folder_.Path());
    // Error lines are written only inside a session.
    ASSERT_EQ(WcaInitialize(standin::NewSession(), "Runner"), S_OK);
    standin::ClearMessages();
    standin::ClearCalls();
  }

  void TearDown() override {
    FinishSession(ERROR_SUCCESS);
    HostTest::TearDown();
  }

  static std::vector<std::string> ProcessCalls() {
    std::vector<std::string> calls;
    for (const std::string& call : standin::Calls()) {
      if (kProcessCalls.count(call)) calls.push_back(call);
    }
    return calls;
  }

  TemporaryFolder folder_;
  std::unique_ptr<ToolDouble> tool_;
};

TEST_F(QuietRunnerTest, ExitCodeZeroSucceedsSilentlyWithTheDocumentedCreation) {
  EXPECT_EQ(execQuietCmdLine("icacls \"C:\\Data\" /q", 5000), S_OK);

  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(ProcessCalls(), kCompleteRun);
  EXPECT_EQ(standin::WaitRequests(), std::vector<DWORD>{5000});
  EXPECT_EQ(tool_->Runs(), (std::vector<std::vector<std::string>>{{"C:\\Data", "/q"}}));
  ASSERT_EQ(standin::ProcessStarts().size(), 1u);
  const standin::ProcessStart& start = standin::ProcessStarts()[0];
  EXPECT_EQ(start.commandLine, "icacls \"C:\\Data\" /q");
  EXPECT_FALSE(start.hasApplicationName) << "the program is the command line's first token";
  EXPECT_EQ(start.inheritHandles, FALSE);
  EXPECT_EQ(start.creationFlags, 0u);
  EXPECT_FALSE(start.hasEnvironment);
  EXPECT_FALSE(start.hasCurrentDirectory);
  EXPECT_EQ(start.startupSize, sizeof(STARTUPINFOA));
  EXPECT_EQ(start.startupFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
  EXPECT_EQ(start.showWindow, SW_HIDE);
  EXPECT_FALSE(start.hasStandardHandles);
}

TEST_F(QuietRunnerTest, NonzeroExitCodeFailsWithTheCodeInEightLowercaseDigits) {
  const struct {
    const char* exit;
    const char* printed;
  } cases[] = {{"1", "00000001"}, {"255", "000000ff"}, {"crash", "c0000005"}};
  for (const auto& row : cases) {
    SCOPED_TRACE(row.exit);
    standin::ClearMessages();
    standin::ClearCalls();
    tool_->ExitWith(row.exit);
    EXPECT_EQ(execQuietCmdLine("icacls x", 10000), E_FAIL);
    EXPECT_EQ(Lines(), std::vector<std::string>{
                           Line(std::string("Error 0x80004005: error from process : exitCode = 0x") + row.printed)});
    EXPECT_EQ(ProcessCalls(), kCompleteRunAndLine);
    EXPECT_EQ(standin::OpenKernelHandles(), 0);
  }
}

TEST_F(QuietRunnerTest, ProgramThatCannotBeFoundFailsAtCreation) {
  EXPECT_EQ(execQuietCmdLine("quorvel-no-such-tool /q", 5000), static_cast<HRESULT>(0x80070002));
  EXPECT_EQ(Lines(), std::vector<std::string>{Line("Error 0x80070002: CreateProcessW() failed")});
  EXPECT_EQ(ProcessCalls(), (std::vector<std::string>{"CreateProcessA", "MsiProcessMessage"}))
      << "no handle exists to be closed";
  EXPECT_TRUE(tool_->Runs().empty());
}

TEST_F(QuietRunnerTest, TimeOutLeavesTheChildRunningWithBothHandlesClosed) {
  tool_->SleepFor(20000);
  for (DWORD timeout : {DWORD{0}, DWORD{300}}) {
    SCOPED_TRACE(timeout);
    standin::ClearMessages();
    standin::ClearCalls();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(execQuietCmdLine("icacls sleeper", timeout), E_FAIL);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(timeout));

    EXPECT_EQ(Lines(), std::vector<std::string>{Line("Error 0x80004005: CreateProcessW() timeout")});
    EXPECT_EQ(ProcessCalls(), (std::vector<std::string>{"CreateProcessA", "CloseHandle", "WaitForSingleObject",
                                                        "CloseHandle", "MsiProcessMessage"}));
    EXPECT_EQ(standin::OpenKernelHandles(), 0);
    ASSERT_FALSE(standin::ProcessStarts().empty());
    EXPECT_TRUE(standin::ProcessRunning(standin::ProcessStarts().back().processId));
  }
}

TEST_F(QuietRunnerTest, LongestCommandLineIsPassedWholeAndOneMoreIsRefused) {
  const std::string prefix = "icacls ";
  const std::string longest = prefix + std::string(kLongestQuietCommandLine - prefix.size(), 'a');
  ASSERT_EQ(longest.size(), 1023u);
  EXPECT_EQ(execQuietCmdLine(longest.c_str(), 10000), S_OK);
  ASSERT_EQ(standin::ProcessStarts().size(), 1u);
  EXPECT_EQ(standin::ProcessStarts()[0].commandLine, longest);
  EXPECT_EQ(tool_->Runs(), (std::vector<std::vector<std::string>>{{std::string(1016, 'a')}}));

  standin::ClearCalls();
  const std::string tooLong = longest + "a";
  EXPECT_EQ(execQuietCmdLine(tooLong.c_str(), 10000), E_INVALIDARG);
  EXPECT_EQ(execQuietCmdLine(nullptr, 10000), E_INVALIDARG);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         Line("Error 0x80070057: Command line of 1024 characters is too long to run (at most 1023)"),
                         Line("Error 0x80070057: No command line to run")}));
  EXPECT_EQ(ProcessCalls(), (std::vector<std::string>{"MsiProcessMessage", "MsiProcessMessage"}))
      << "nothing is started";
  EXPECT_EQ(tool_->Runs().size(), 1u);
}

// The child receives its arguments by the Windows rules: the reason why the
// folder actions double a path's trailing backslashes inside the quotes.
TEST_F(QuietRunnerTest, ChildReceivesItsArgumentsByTheWindowsRules) {
  const struct {
    const char* commandLine;
    std::vector<std::string> arguments;
  } cases[] = {
      {"icacls \"C:\\Data\\\\\" /t /q", {"C:\\Data\\", "/t", "/q"}},
      {"icacls \"C:\\Data\\\" /t /q", {"C:\\Data\" /t /q"}},
      {"icacls \"C:\\Program Files\\Q\" /grant *S-1-5-32-545:(OI)(CI)F",
       {"C:\\Program Files\\Q", "/grant", "*S-1-5-32-545:(OI)(CI)F"}},
      {"icacls a\\\\b \"x\\\"y\" \"p\"\"q\"", {"a\\\\b", "x\"y", "p\"q"}},
      {"icacls   spaced\targs  ", {"spaced", "args"}},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(execQuietCmdLine(row.commandLine, 10000), S_OK) << row.commandLine;
  }
  const auto runs = tool_->Runs();
  ASSERT_EQ(runs.size(), std::size(cases));
  for (size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(runs[i], cases[i].arguments) << cases[i].commandLine;
}

// A failed call is never reported as success, even when it leaves no last
// error behind; the handles are closed before the line is written.
TEST_F(QuietRunnerTest, FailedCallsGiveTheirLastErrorOrEFail) {
  const struct {
    const char* call;
    DWORD error;
    HRESULT result;
    const char* line;
    std::vector<std::string> calls;
  } cases[] = {
      {"CreateProcessA",
       0,
       E_FAIL,
       "Error 0x80004005: CreateProcessW() failed",
       {"CreateProcessA", "MsiProcessMessage"}},
      {"CreateProcessA",
       ERROR_ACCESS_DENIED,
       static_cast<HRESULT>(0x80070005),
       "Error 0x80070005: CreateProcessW() failed",
       {"CreateProcessA", "MsiProcessMessage"}},
      {"WaitForSingleObject",
       0,
       E_FAIL,
       "Error 0x80004005: WaitForSingleObject() failed",
       {"CreateProcessA", "CloseHandle", "WaitForSingleObject", "CloseHandle", "MsiProcessMessage"}},
      {"WaitForSingleObject",
       ERROR_INVALID_HANDLE,
       E_HANDLE,
       "Error 0x80070006: WaitForSingleObject() failed",
       {"CreateProcessA", "CloseHandle", "WaitForSingleObject", "CloseHandle", "MsiProcessMessage"}},
      {"GetExitCodeProcess", 0, E_FAIL, "Error 0x80004005: GetExitCodeProcess() failed", kCompleteRunAndLine},
      {"GetExitCodeProcess", ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005),
       "Error 0x80070005: GetExitCodeProcess() failed", kCompleteRunAndLine},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(std::string(row.call) + " " + std::to_string(row.error));
    standin::Reset();
    ASSERT_EQ(WcaInitialize(standin::NewSession(), "Runner"), S_OK);
    standin::ClearMessages();
    standin::ClearCalls();
    SetLastError(ERROR_GEN_FAILURE);  // stale: must not leak into the Result
    standin::FailCall(row.call, row.error, 0, 1);
    EXPECT_EQ(execQuietCmdLine("icacls x", 10000), row.result);
    EXPECT_EQ(Lines(), std::vector<std::string>{Line(row.line)});
    EXPECT_EQ(ProcessCalls(), row.calls);
    EXPECT_EQ(standin::OpenKernelHandles(), 0);
    FinishSession(ERROR_SUCCESS);
  }
}

}  // namespace
