#include "fixture.hpp"

#include "action_package.hpp"
#include "machine.hpp"

#include <cstdio>

namespace quorvel::engine {

namespace {

Environment& storedEnvironment() {
  static Environment stored;
  return stored;
}

std::string slug(const std::string& name) {
  std::string text;
  for (char ch : name) {
    const bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
    text += plain ? ch : '_';
  }
  return text;
}

}  // namespace

const Environment& environment() { return storedEnvironment(); }
void setEnvironment(Environment environment) { storedEnvironment() = std::move(environment); }

std::string caseFolder(const Case& c) {
  const std::string path = environment().workRoot + "\\cases\\" + slug(c.name());
  machine::removeTree(path);
  machine::createFolders(path);
  return path;
}

std::string dllVersionText() {
  const Environment& env = environment();
  char text[64];
  std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(env.versionMs)),
                static_cast<unsigned long>(LOWORD(env.versionMs)), static_cast<unsigned long>(HIWORD(env.versionLs)),
                static_cast<unsigned long>(LOWORD(env.versionLs)));
  return text;
}

std::string line(const std::string& label, const std::string& text) { return label + ":  " + text; }

std::string errorLine(const std::string& label, unsigned result, const std::string& message) {
  char text[32];
  std::snprintf(text, sizeof text, "Error 0x%x: ", result);
  return line(label, text + message);
}

ActionOutcome runAction(Case& c, const ActionRequest& request) {
  ActionOutcome outcome;
  const std::string packages = environment().workRoot + "\\packages";
  machine::createFolders(packages);
  const std::string packagePath = packages + "\\" + slug(c.name()) + ".msi";
  std::string error;
  if (!quorvel::authoring::buildActionPackage(packagePath, environment().dllPath, request.withRetryErrorRow, error)) {
    c.setupFailed("building the package: " + error, __FILE__, __LINE__);
    return outcome;
  }
  MessageCapture capture;
  capture.scriptPromptAnswers(request.promptAnswers);
  if (request.onPrompt) {
    capture.onPrompt(request.onPrompt);
  }
  if (request.onInfo) {
    capture.onInfo(request.onInfo);
  }
  {
    EngineSession session(packagePath);
    if (!session.ok()) {
      c.setupFailed(session.error(), __FILE__, __LINE__);
      return outcome;
    }
    if (request.customActionData) {
      session.setProperty("CustomActionData", *request.customActionData);
    }
    for (const auto& [name, value] : request.properties) {
      session.setProperty(name, value);
    }
    outcome.ran = true;
    outcome.code = session.doAction(request.action);
    outcome.codes.push_back(outcome.code);
    for (const auto& properties : request.reruns) {
      for (const auto& [name, value] : properties) {
        session.setProperty(name, value);
      }
      outcome.codes.push_back(session.doAction(request.action));
    }
  }
  outcome.messages = capture.messages();
  outcome.lines = actionLines(outcome.messages, request.action);
  outcome.prompts = capture.ofKind(INSTALLMESSAGE_ERROR);
  return outcome;
}

std::vector<std::string> actionLines(const std::vector<Message>& messages, const std::string& label) {
  std::vector<std::string> lines;
  const std::string prefix = label + ":";
  for (const Message& message : messages) {
    if (message.kind == INSTALLMESSAGE_INFO && message.field0.compare(0, prefix.size(), prefix) == 0) {
      lines.push_back(message.field0);
    }
  }
  return lines;
}

bool registered(const std::string& name) { return machine::valueType(kFoldersKey, name).has_value(); }

FileLock::FileLock(const std::string& path, DWORD sharing)
    : handle_(CreateFileA(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                          nullptr)) {}

EnvironmentOverride::EnvironmentOverride(std::wstring name, const std::wstring& value) : name_(std::move(name)) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(name_.c_str(), buffer, 4096);
  if (length > 0 && length < 4096) {
    previous_ = std::wstring(buffer, length);
  }
  SetEnvironmentVariableW(name_.c_str(), value.c_str());
}

EnvironmentOverride::~EnvironmentOverride() {
  SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
}

}  // namespace quorvel::engine
