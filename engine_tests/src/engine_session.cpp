#include "engine_session.hpp"

#include "ansi_text.hpp"

namespace quorvel::engine {

using quorvel::authoring::wide;

namespace {

MessageCapture* activeCapture = nullptr;

int WINAPI recordHandler(LPVOID, UINT type, MSIHANDLE record) {
  return activeCapture != nullptr ? activeCapture->handle(type, record) : 0;
}

constexpr DWORD kEveryMessage = INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING |
                                INSTALLLOGMODE_USER | INSTALLLOGMODE_INFO | INSTALLLOGMODE_RESOLVESOURCE |
                                INSTALLLOGMODE_OUTOFDISKSPACE | INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA |
                                INSTALLLOGMODE_COMMONDATA | INSTALLLOGMODE_FILESINUSE | INSTALLLOGMODE_RMFILESINUSE;

}  // namespace

std::string recordString(MSIHANDLE record, UINT field) {
  DWORD size = 0;
  char probe[1] = {0};
  UINT rc = MsiRecordGetStringA(record, field, probe, &size);
  if (rc != ERROR_MORE_DATA && rc != ERROR_SUCCESS) {
    return {};
  }
  std::string text(size + 1, '\0');
  size = static_cast<DWORD>(text.size());
  if (MsiRecordGetStringA(record, field, text.data(), &size) != ERROR_SUCCESS) {
    return {};
  }
  text.resize(size);
  return text;
}

MessageCapture::MessageCapture() {
  activeCapture = this;
  MsiSetExternalUIRecord(recordHandler, kEveryMessage, nullptr, nullptr);
}

MessageCapture::~MessageCapture() {
  MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr);
  activeCapture = nullptr;
}

std::vector<Message> MessageCapture::ofKind(unsigned kind) const {
  std::vector<Message> found;
  for (const Message& message : messages_) {
    if (message.kind == kind) {
      found.push_back(message);
    }
  }
  return found;
}

int MessageCapture::handle(unsigned type, MSIHANDLE record) {
  Message message;
  message.kind = type & 0xFF000000u;
  message.buttons = type & 0xFu;
  message.field0 = recordString(record, 0);
  const UINT count = MsiRecordGetFieldCount(record);
  for (UINT field = 1; field <= count && field < 64; ++field) {
    message.fields.push_back(recordString(record, field));
  }
  DWORD size = 0;
  char probe[1] = {0};
  if (MsiFormatRecordA(0, record, probe, &size) == ERROR_MORE_DATA) {
    std::string text(size + 1, '\0');
    size = static_cast<DWORD>(text.size());
    if (MsiFormatRecordA(0, record, text.data(), &size) == ERROR_SUCCESS) {
      text.resize(size);
      message.formatted = text;
    }
  }
  if (message.kind == INSTALLMESSAGE_ERROR) {
    if (onPrompt_) {
      onPrompt_(message);
    }
    message.answer = IDCANCEL;
    if (!answers_.empty()) {
      message.answer = answers_.front();
      answers_.pop_front();
    }
  } else if (message.kind == INSTALLMESSAGE_INFO && onInfo_) {
    message.answer = onInfo_(message);
  }
  messages_.push_back(message);
  return message.answer;
}

EngineSession::EngineSession(const std::string& packagePath) {
  const UINT rc = MsiOpenPackageA(packagePath.c_str(), package_.put());
  if (rc != ERROR_SUCCESS) {
    error_ = "MsiOpenPackage " + packagePath + " failed with " + std::to_string(rc);
  }
}

// Set through the wide call, the Installer's own form: the action's narrow
// read then hands it back in its process's ANSI code page.
bool EngineSession::setProperty(const std::string& name, const std::string& value) {
  return MsiSetPropertyW(package_.get(), wide(name).c_str(), wide(value).c_str()) == ERROR_SUCCESS;
}

std::string EngineSession::property(const std::string& name) const {
  DWORD size = 0;
  char probe[1] = {0};
  MsiGetPropertyA(package_.get(), name.c_str(), probe, &size);
  std::string text(size + 1, '\0');
  size = static_cast<DWORD>(text.size());
  if (MsiGetPropertyA(package_.get(), name.c_str(), text.data(), &size) != ERROR_SUCCESS) {
    return {};
  }
  text.resize(size);
  return text;
}

UINT EngineSession::doAction(const std::string& action) { return MsiDoActionA(package_.get(), action.c_str()); }

}  // namespace quorvel::engine
