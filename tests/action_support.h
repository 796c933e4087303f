// Helpers for the tests of the exported actions: a session carrying the
// action's argument, and views onto what the action did.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "support.h"

class ActionTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    session_ = standin::NewSession();
  }

  void SetArgument(const std::string& customActionData) {
    standin::SetProperty(session_, "CustomActionData", customActionData);
  }
  // LOGVERBOSE makes the session decide for verbose logging.
  void LogVerbose() { standin::SetProperty(session_, "LOGVERBOSE", "1"); }

  // The log lines from "Initialized." on: the entry line before it belongs to
  // the session start, which has tests of its own.
  static std::vector<std::string> ActionLines(const std::string& label) {
    std::vector<std::string> lines = Lines();
    const std::string first = label + ":  Initialized.";
    for (auto line = lines.begin(); line != lines.end(); ++line) {
      if (*line == first) return std::vector<std::string>(line, lines.end());
    }
    return {};
  }

  // The recorded platform calls restricted to `names`, in call order.
  static std::vector<std::string> CallsAmong(const std::set<std::string>& names) {
    std::vector<std::string> calls;
    for (const std::string& call : standin::Calls()) {
      if (names.count(call)) calls.push_back(call);
    }
    return calls;
  }

  // The messages that are not log lines.
  static std::vector<standin::Message> Prompts() {
    std::vector<standin::Message> prompts;
    for (const standin::Message& message : standin::Messages()) {
      if (message.type != INSTALLMESSAGE_INFO) prompts.push_back(message);
    }
    return prompts;
  }

  // Starts a fresh machine and session for the next row of a table, checking
  // first that the previous row left nothing open.
  void Restart() {
    TearDown();
    SetUp();
  }

  MSIHANDLE session_ = 0;
};

constexpr UINT kSuccess = ERROR_SUCCESS;
constexpr UINT kFailure = ERROR_INSTALL_FAILURE;
