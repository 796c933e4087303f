#include "actions/icacls.h"

#include <cstring>

#include "actions/frame.h"
#include "process/quietcmd.h"
#include "runtime/strutil.h"
#include "runtime/wcalog.h"
#include "targetguard/targetguard.h"

namespace {

constexpr char kTool[] = "icacls \"";
constexpr char kTreeSwitches[] = "/t /l /q /grant *S-1-5-32-545:(OI)(CI)F";
constexpr char kFolderSwitches[] = "/l /q /grant *S-1-5-32-545:(OI)(CI)F";
constexpr char kClosingQuote[] = "\" ";
// Room for the longest argument with every character a trailing backslash
// (each doubled), the tool's name, the quotation marks and the switches. A
// line longer than the runner takes is still built whole, so that the
// runner's refusal names its true length.
constexpr size_t kCommandLineChars = 2 * kLargestCustomActionData + 64;

// Appends `length` characters of `text` at `*end`; false when they do not fit.
bool AppendText(char* line, size_t* end, const char* text, size_t length) {
  if (length >= kCommandLineChars - *end) return false;
  std::memcpy(line + *end, text, length);
  *end += length;
  line[*end] = '\0';
  return true;
}

HRESULT BuildCommandLine(const char* path, const char* switches, char* commandLine) {
  if (FindAnsiCharacter(path, '"')) {
    LogErrorLine(E_INVALIDARG, "Refusing path '%s': it contains a quotation mark", path);
    return E_INVALIDARG;
  }
  const size_t length = std::strlen(path);
  const size_t trailingBackslashes = ReadAnsiTextEnding(path).trailingBackslashes;

  size_t end = 0;
  commandLine[0] = '\0';
  const bool built = AppendText(commandLine, &end, kTool, sizeof kTool - 1) &&
                     AppendText(commandLine, &end, path, length) &&
                     AppendText(commandLine, &end, path + length - trailingBackslashes, trailingBackslashes) &&
                     AppendText(commandLine, &end, kClosingQuote, sizeof kClosingQuote - 1) &&
                     AppendText(commandLine, &end, switches, std::strlen(switches));
  if (!built) {
    LogErrorLine(E_INVALIDARG, "Refusing path '%s': it is too long for a command line", path);
    return E_INVALIDARG;
  }
  return S_OK;
}

}  // namespace

HRESULT GrantUsersFullControl(const char* path, GrantScope scope) {
  // Checked here, not by the tool: a link planted after the check is left
  // to /l.
  HRESULT result = RefuseUnsafeTarget(path);
  if (SUCCEEDED(result) && scope == GrantScope::kFolderTree) result = RefuseUntrustedLinksInTree(path);
  if (FAILED(result)) return result;

  char commandLine[kCommandLineChars];
  result = BuildCommandLine(path, scope == GrantScope::kFolderTree ? kTreeSwitches : kFolderSwitches, commandLine);
  if (FAILED(result)) return result;

  result = execQuietCmdLine(commandLine, kIcaclsTimeoutMilliseconds);
  if (FAILED(result)) LogErrorLine(result, "execQuietCmdLine() failed");
  return result;
}
