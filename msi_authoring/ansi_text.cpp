#include "ansi_text.hpp"

#include <windows.h>

namespace quorvel::authoring {

namespace {

// Converts to the ANSI code page; `lossy` tells whether a default character
// stands in for one the code page lacks.
std::string toAnsi(const std::wstring& text, bool* lossy) {
  BOOL usedDefault = FALSE;
  if (text.empty()) {
    *lossy = false;
    return {};
  }
  const int units = static_cast<int>(text.size());
  const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), units, nullptr, 0, nullptr, nullptr);
  std::string narrow(bytes > 0 ? bytes : 0, '\0');
  if (bytes > 0) {
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), units, narrow.data(), bytes, nullptr, &usedDefault);
  }
  *lossy = bytes <= 0 || usedDefault;
  return narrow;
}

}  // namespace

std::string ansi(const std::wstring& text) {
  bool lossy = false;
  return toAnsi(text, &lossy);
}

bool inAnsiCodePage(const std::wstring& text) {
  bool lossy = false;
  toAnsi(text, &lossy);
  return !lossy;
}

std::wstring wide(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int bytes = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, nullptr, 0);
  std::wstring converted(units > 0 ? units : 0, L'\0');
  if (units > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, converted.data(), units);
  }
  return converted;
}

}  // namespace quorvel::authoring
