// Drives the Installer engine for one package: opens it with the internal
// user interface off, captures every message through an external record
// handler, answers the error prompts from a script and runs actions.
#pragma once

#include "handles.hpp"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace quorvel::engine {

struct Message {
  unsigned kind = 0;                // INSTALLMESSAGE_* (high byte of the message type)
  unsigned buttons = 0;             // MB_* button set (low nibble)
  std::string field0;               // the record's template, exactly as sent
  std::vector<std::string> fields;  // fields 1..n as strings
  std::string formatted;            // the engine's formatting of the record
  int answer = 0;                   // what the handler answered
};

// Receives the engine's messages while it is installed as the process's
// external user interface. Only one capture is active at a time.
class MessageCapture {
 public:
  MessageCapture();
  ~MessageCapture();
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  // Answers given to error prompts, in order; once used up, prompts are
  // answered with IDCANCEL so that a Retry loop always ends.
  void scriptPromptAnswers(std::vector<int> answers) { answers_.assign(answers.begin(), answers.end()); }
  // Called before each prompt's answer is given (for example to unlock a file).
  void onPrompt(std::function<void(const Message&)> hook) { onPrompt_ = std::move(hook); }
  // Decides the answer to an information message; 0 by default.
  void onInfo(std::function<int(const Message&)> decide) { onInfo_ = std::move(decide); }

  const std::vector<Message>& messages() const { return messages_; }
  std::vector<Message> ofKind(unsigned kind) const;

  int handle(unsigned type, MSIHANDLE record);

 private:
  std::vector<Message> messages_;
  std::deque<int> answers_;
  std::function<void(const Message&)> onPrompt_;
  std::function<int(const Message&)> onInfo_;
};

class EngineSession {
 public:
  // Opens the package at path (a database file).
  explicit EngineSession(const std::string& packagePath);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // Names and values are text of the ANSI code page.
  bool setProperty(const std::string& name, const std::string& value);
  std::string property(const std::string& name) const;
  UINT doAction(const std::string& action);

 private:
  quorvel::authoring::MsiHandle package_;
  std::string error_;
};

// Text of one record field; empty for null fields.
std::string recordString(MSIHANDLE record, UINT field);

}  // namespace quorvel::engine
