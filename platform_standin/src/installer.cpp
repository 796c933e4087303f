// The Windows Installer as a custom action sees it: sessions with properties,
// records, and a message sink that keeps every message and answers from a
// script.
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <standin.h>

#include "parts.h"

namespace standin {
namespace {

struct Session {
  bool withDatabase = true;
  std::map<std::string, std::string> properties;
};

struct Field {
  bool isSet = false;
  std::string text;
};

MSIHANDLE nextHandle = 1;
std::map<MSIHANDLE, Session> sessions;
std::map<MSIHANDLE, std::vector<Field>> records;
// Closed records, kept for reuse so that a log line allocates nothing once
// the first record has been made.
std::vector<decltype(records)::node_type> spareRecords;
std::set<MSIHANDLE> databases;
std::map<int, std::string> errorTexts;
std::vector<Message> messages;
std::map<int, std::deque<int>> answers;  // by message kind

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The text the Installer makes of a message: an error message with a number
// in field 1 uses that error's text, anything else its template in field 0.
std::string MessageText(int type, const std::vector<Field>& fields) {
  if ((type & 0xFF000000) == INSTALLMESSAGE_ERROR && fields.size() > 2 && fields[1].isSet) {
    auto text = errorTexts.find(std::atoi(fields[1].text.c_str()));
    if (text != errorTexts.end()) return ReplaceAll(text->second, "[2]", fields[2].text);
  }
  return fields.empty() ? std::string() : fields[0].text;
}

Session* FindSession(MSIHANDLE install) {
  auto found = sessions.find(install);
  return found == sessions.end() ? nullptr : &found->second;
}

// Copies a value by the Installer's rules: `chars` is the buffer's size on
// the way in and the value's length on the way out; a value that does not
// fit with its terminator is cut and answered with ERROR_MORE_DATA.
template <typename Char>
UINT CopyValue(const std::string& value, Char* buffer, LPDWORD chars) {
  if (!chars) return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  const DWORD capacity = *chars;
  const DWORD length = static_cast<DWORD>(value.size());
  *chars = length;
  if (buffer && capacity > 0) {
    const DWORD copied = length < capacity ? length : capacity - 1;
    for (DWORD i = 0; i < copied; ++i) buffer[i] = static_cast<Char>(static_cast<unsigned char>(value[i]));
    buffer[copied] = 0;
  }
  return length < capacity ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

UINT GetProperty(MSIHANDLE install, const std::string& name, std::string* value) {
  Session* session = FindSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  auto found = session->properties.find(name);
  *value = found == session->properties.end() ? std::string() : found->second;
  return ERROR_SUCCESS;
}

std::string Narrow(LPCWSTR text) {
  std::string narrow;
  for (; text && *text; ++text) narrow += static_cast<char>(*text);
  return narrow;
}

}  // namespace

void ResetInstaller() {
  nextHandle = 1;
  sessions.clear();
  records.clear();
  spareRecords.clear();
  databases.clear();
  errorTexts.clear();
  messages.clear();
  answers.clear();
}

MSIHANDLE NewSession(bool withDatabase) {
  const MSIHANDLE handle = nextHandle++;
  sessions[handle].withDatabase = withDatabase;
  return handle;
}

void SetProperty(MSIHANDLE session, const std::string& name, const std::string& value) {
  sessions.at(session).properties[name] = value;
}

void UnsetProperty(MSIHANDLE session, const std::string& name) { sessions.at(session).properties.erase(name); }

void SetErrorText(int number, const std::string& text) { errorTexts[number] = text; }

const std::vector<Message>& Messages() { return messages; }

std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  for (const Message& message : messages) {
    if (message.type == INSTALLMESSAGE_INFO) lines.push_back(message.text);
  }
  return lines;
}

void ClearMessages() { messages.clear(); }

void ScriptAnswers(int messageKind, const std::vector<int>& script) {
  answers[messageKind & 0xFF000000].assign(script.begin(), script.end());
}

int OpenInstallerHandles() { return static_cast<int>(records.size() + databases.size()); }

}  // namespace standin

using namespace standin;

extern "C" MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE install) {
  const Call call("MsiGetActiveDatabase");
  if (call.Failure()) return 0;
  Session* session = FindSession(install);
  if (!session || !session->withDatabase) return 0;
  const MSIHANDLE database = nextHandle++;
  databases.insert(database);
  return database;
}

extern "C" UINT WINAPI MsiGetPropertyA(MSIHANDLE install, LPCSTR name, LPSTR value, LPDWORD valueChars) {
  const Call call("MsiGetPropertyA");
  if (auto error = call.Failure()) return *error;
  std::string text;
  if (UINT error = GetProperty(install, name ? name : "", &text)) return error;
  return CopyValue(text, value, valueChars);
}

extern "C" UINT WINAPI MsiGetPropertyW(MSIHANDLE install, LPCWSTR name, LPWSTR value, LPDWORD valueChars) {
  const Call call("MsiGetPropertyW");
  if (auto error = call.Failure()) return *error;
  std::string text;
  if (UINT error = GetProperty(install, Narrow(name), &text)) return error;
  return CopyValue(text, value, valueChars);
}

extern "C" MSIHANDLE WINAPI MsiCreateRecord(UINT fields) {
  const Call call("MsiCreateRecord");
  if (call.Failure()) return 0;
  const MSIHANDLE record = nextHandle++;
  if (spareRecords.empty()) {
    records[record].resize(fields + 1);
    return record;
  }
  auto node = std::move(spareRecords.back());
  spareRecords.pop_back();
  node.key() = record;
  for (Field& field : node.mapped()) {
    field.isSet = false;
    field.text.clear();
  }
  node.mapped().resize(fields + 1);
  records.insert(std::move(node));
  return record;
}

static UINT SetField(MSIHANDLE record, UINT field, const char* text) {
  auto found = records.find(record);
  if (found == records.end()) return ERROR_INVALID_HANDLE;
  if (field >= found->second.size()) return ERROR_INVALID_PARAMETER;
  Field& set = found->second[field];
  set.isSet = true;
  set.text.assign(text);  // reuses the field's storage
  return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiRecordSetInteger(MSIHANDLE record, UINT field, int value) {
  const Call call("MsiRecordSetInteger");
  if (auto error = call.Failure()) return *error;
  return SetField(record, field, std::to_string(value).c_str());
}

extern "C" UINT WINAPI MsiRecordSetStringA(MSIHANDLE record, UINT field, LPCSTR value) {
  const Call call("MsiRecordSetStringA");
  if (auto error = call.Failure()) return *error;
  return SetField(record, field, value ? value : "");
}

extern "C" int WINAPI MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record) {
  const Call call("MsiProcessMessage");
  if (call.Failure()) return -1;
  auto found = records.find(record);
  if (found == records.end()) return -1;
  if (Recording()) {
    Message message;
    message.session = install;
    message.type = type;
    for (const Field& field : found->second) message.fields.push_back(field.text);
    message.text = MessageText(type, found->second);
    messages.push_back(std::move(message));
  }
  // Kept for the test to see, but the Installer refuses a message without a session.
  if (!FindSession(install)) return -1;
  std::deque<int>& script = answers[type & 0xFF000000];
  if (script.empty()) return 0;
  const int answer = script.front();
  script.pop_front();
  return answer;
}

extern "C" UINT WINAPI MsiCloseHandle(MSIHANDLE handle) {
  const Call call("MsiCloseHandle");
  if (auto record = records.extract(handle)) {
    spareRecords.push_back(std::move(record));
    return ERROR_SUCCESS;
  }
  if (databases.erase(handle)) return ERROR_SUCCESS;
  return ERROR_INVALID_HANDLE;
}
