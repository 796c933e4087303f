// Formats and arguments to the counted formatting and copying, and to the
// log lines built on them. The fuzz bytes are read as a plan: literal runs
// and conversions (flags, width, precision, each with an argument of the
// type it takes, '*' widths and precisions included), so that every format
// is well-formed; a format that does not match its arguments is undefined in
// printf itself and says nothing about the runtime. Each result is checked
// against snprintf into a buffer large enough; a mismatch aborts.
#include <standin.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/result.h"
#include "runtime/strutil.h"
#include "runtime/wcalog.h"
#include "runtime/wcautil.h"

// The formats are built at run time on purpose.
#pragma clang diagnostic ignored "-Wformat-security"
#pragma clang diagnostic ignored "-Wformat-nonliteral"

namespace {

constexpr size_t kMostArguments = 4;
constexpr size_t kLongestFormat = 3000;
constexpr char kLabel[] = "FuzzFormat";

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_format: %s: %s\n", what, detail.c_str());
  std::abort();
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Word() {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) word = (word << 8) | Byte();
    return word;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

enum class Type { kInt, kUnsigned, kLongLong, kDouble, kString, kWide };

struct Argument {
  Type type = Type::kInt;
  int integer = 0;
  unsigned natural = 0;
  long long wide = 0;
  double real = 0;
  std::string text;
  std::wstring wideText;
};

struct Plan {
  std::string format;
  std::vector<Argument> arguments;
  SIZE_T capacity = 0;
};

struct Conversion {
  const char* letters;  // the length modifier and conversion
  const char* flags;    // the flags defined for it
  bool precision;       // whether a precision is defined for it
  Type type;
};

const Conversion kConversions[] = {
    {"d", "-+ 0", true, Type::kInt},      {"i", "-+ 0", true, Type::kInt},
    {"u", "-0", true, Type::kUnsigned},   {"x", "-#0", true, Type::kUnsigned},
    {"X", "-#0", true, Type::kUnsigned},  {"o", "-#0", true, Type::kUnsigned},
    {"c", "-", false, Type::kInt},        {"lld", "-+ 0", true, Type::kLongLong},
    {"llx", "-#0", true, Type::kLongLong}, {"f", "-+ #0", true, Type::kDouble},
    {"e", "-+ #0", true, Type::kDouble},  {"g", "-+ #0", true, Type::kDouble},
    {"s", "-", true, Type::kString},      {"ls", "-", true, Type::kWide},
};

Argument StarArgument(Reader& reader) {
  Argument argument;
  argument.integer = static_cast<int>(static_cast<int8_t>(reader.Byte())) % 64;  // negative too
  return argument;
}

Argument ValueArgument(Reader& reader, Type type) {
  Argument argument;
  argument.type = type;
  switch (type) {
    case Type::kInt:
      argument.integer = static_cast<int>(reader.Word());
      break;
    case Type::kUnsigned:
      argument.natural = reader.Word();
      break;
    case Type::kLongLong:
      argument.wide = static_cast<long long>((static_cast<uint64_t>(reader.Word()) << 32) | reader.Word());
      break;
    case Type::kDouble: {
      const uint64_t bits = (static_cast<uint64_t>(reader.Word()) << 32) | reader.Word();
      std::memcpy(&argument.real, &bits, sizeof bits);
      break;
    }
    case Type::kString:
      for (int length = reader.Byte() % 48; length > 0; --length) {
        const char c = static_cast<char>(reader.Byte());
        argument.text += c ? c : '.';
      }
      break;
    case Type::kWide:
      // Any code unit, including ones that no code page can render.
      for (int length = reader.Byte() % 16; length > 0; --length) {
        const wchar_t c = static_cast<wchar_t>(reader.Byte() & 1 ? reader.Word() : reader.Byte());
        argument.wideText += c ? c : L'.';
      }
      break;
  }
  return argument;
}

Plan ReadPlan(Reader& reader) {
  Plan plan;
  static const SIZE_T kCapacities[] = {0, 1, 2, 3, 8, 16, 64, 0x80000000ull, static_cast<SIZE_T>(-1)};
  const uint8_t capacity = reader.Byte();
  plan.capacity = capacity < 128 ? kCapacities[capacity % 9] : 1 + (capacity * 37u + reader.Byte()) % 4096;

  while (!reader.Empty() && plan.format.size() < kLongestFormat) {
    const uint8_t step = reader.Byte();
    if (step % 3 != 0) {
      for (int length = 1 + step % 24; length > 0; --length) {
        const char c = static_cast<char>(reader.Byte());
        if (c == '%') {
          plan.format += "%%";
        } else {
          plan.format += c ? c : ' ';
        }
      }
      continue;
    }
    if (plan.arguments.size() >= kMostArguments) {
      plan.format += "%%";
      continue;
    }
    const Conversion& conversion = kConversions[reader.Byte() % (sizeof kConversions / sizeof kConversions[0])];
    std::string directive = "%";
    const uint8_t flags = reader.Byte();
    for (size_t i = 0; conversion.flags[i]; ++i) {
      if (flags & (1u << i)) directive += conversion.flags[i];
    }
    const size_t room = kMostArguments - plan.arguments.size() - 1;
    size_t stars = 0;
    const uint8_t width = reader.Byte() % 3;
    if (width == 1) {
      directive += std::to_string(1 + reader.Byte() % 64);
    } else if (width == 2 && stars < room) {
      directive += '*';
      plan.arguments.push_back(StarArgument(reader));
      ++stars;
    }
    const uint8_t precision = conversion.precision ? reader.Byte() % 4 : 0;
    if (precision == 1) {
      directive += "." + std::to_string(reader.Byte() % 64);
    } else if (precision == 2 && stars < room) {
      directive += ".*";
      plan.arguments.push_back(StarArgument(reader));
    } else if (precision == 3) {
      directive += '.';
    }
    directive += conversion.letters;
    plan.format += directive;
    plan.arguments.push_back(ValueArgument(reader, conversion.type));
  }
  return plan;
}

bool ValidCapacity(SIZE_T capacity) { return capacity >= 1 && capacity <= 0x7FFFFFFF; }

// A buffer of exactly the capacity on the heap, so that AddressSanitizer sees
// any write past it; for a refused capacity, a small one that must stay
// untouched.
std::vector<char> BufferFor(SIZE_T capacity) { return std::vector<char>(ValidCapacity(capacity) ? capacity : 16, 'Z'); }

void CheckRefused(HRESULT result, const std::vector<char>& buffer, const char* call) {
  if (result != E_INVALIDARG) Fail(call, "a refused capacity did not answer E_INVALIDARG");
  for (char c : buffer) {
    if (c != 'Z') Fail(call, "a refused capacity wrote into the buffer");
  }
}

// The counted answer for text of `length` characters cut to `capacity`.
void CheckCounted(HRESULT result, const std::vector<char>& buffer, SIZE_T capacity, const std::string& full,
                  const char* call) {
  const size_t kept = full.size() < capacity ? full.size() : capacity - 1;
  const HRESULT expected = full.size() < capacity ? S_OK : kResultTextCut;
  if (result != expected) Fail(call, "answered " + std::to_string(result) + " for " + std::to_string(full.size()) +
                                         " characters in " + std::to_string(capacity));
  if (buffer[kept] != '\0' || std::memcmp(buffer.data(), full.data(), kept) != 0) {
    Fail(call, "the text differs from snprintf's");
  }
}

HRESULT ThroughList(char* buffer, SIZE_T capacity, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const HRESULT result = FormatCountedList(buffer, capacity, format, arguments);
  va_end(arguments);
  return result;
}

template <typename... Values>
void Check(const Plan& plan, Values... values) {
  const char* format = plan.format.c_str();
  const int needed = std::snprintf(nullptr, 0, format, values...);
  std::string full;
  if (needed >= 0) {
    full.resize(static_cast<size_t>(needed) + 1);
    std::snprintf(full.data(), full.size(), format, values...);
    full.resize(static_cast<size_t>(needed));
  }

  for (bool viaList : {false, true}) {
    const char* call = viaList ? "FormatCountedList" : "FormatCounted";
    std::vector<char> buffer = BufferFor(plan.capacity);
    const HRESULT result = viaList ? ThroughList(buffer.data(), plan.capacity, format, values...)
                                   : FormatCounted(buffer.data(), plan.capacity, format, values...);
    if (!ValidCapacity(plan.capacity)) {
      CheckRefused(result, buffer, call);
    } else if (needed >= 0) {
      CheckCounted(result, buffer, plan.capacity, full, call);
    } else if (result != E_FAIL || std::memchr(buffer.data(), '\0', buffer.size()) == nullptr) {
      // Text the C runtime cannot render (a wide argument outside the code page).
      Fail(call, "an unrenderable argument did not answer E_FAIL with a terminated buffer");
    }
  }

  std::vector<char> copy = BufferFor(plan.capacity);
  const HRESULT copied = CopyCounted(copy.data(), plan.capacity, format);
  if (!ValidCapacity(plan.capacity)) {
    CheckRefused(copied, copy, "CopyCounted");
  } else {
    CheckCounted(copied, copy, plan.capacity, plan.format, "CopyCounted");
  }

  // Lines: the label and two spaces, then the text, cut at 2047 characters.
  // The action's formats are its own short literals: a format long enough to
  // cut the line's template would be cut in the middle of a directive.
  if (needed < 0 || plan.format.size() > 1900) return;
  standin::ClearMessages();
  LogLine(kLogStandard, format, values...);
  LogErrorLine(static_cast<HRESULT>(0x80070057), format, values...);
  const std::vector<std::string> lines = standin::LogLines();
  // A record's text ends at the first NUL, which a %c of 0 puts in the text.
  auto asRecorded = [](const std::string& text) { return std::string(text.substr(0, 2047).c_str()); };
  const std::string prefix = std::string(kLabel) + ":  ";
  if (lines.size() != 2 || lines[0] != asRecorded(prefix + full) ||
      lines[1] != asRecorded(prefix + "Error 0x80070057: " + asRecorded(full))) {
    Fail("LogLine", "the lines differ from snprintf's");
  }
}

template <typename... Values>
void Invoke(const Plan& plan, size_t next, Values... values) {
  if (next == plan.arguments.size()) {
    Check(plan, values...);
    return;
  }
  if constexpr (sizeof...(Values) < kMostArguments) {
    const Argument& argument = plan.arguments[next];
    switch (argument.type) {
      case Type::kInt:
        return Invoke(plan, next + 1, values..., argument.integer);
      case Type::kUnsigned:
        return Invoke(plan, next + 1, values..., argument.natural);
      case Type::kLongLong:
        return Invoke(plan, next + 1, values..., argument.wide);
      case Type::kDouble:
        return Invoke(plan, next + 1, values..., argument.real);
      case Type::kString:
        return Invoke(plan, next + 1, values..., argument.text.c_str());
      case Type::kWide:
        return Invoke(plan, next + 1, values..., argument.wideText.c_str());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader reader(data, size);
  const Plan plan = ReadPlan(reader);

  standin::Reset();
  ModuleNotify(standin::DllModule(), DLL_PROCESS_ATTACH);
  const MSIHANDLE session = standin::NewSession(false);
  if (WcaInitialize(session, kLabel) != S_OK) Fail("WcaInitialize", "the session did not start");
  Invoke(plan, 0);
  FinishSession(ERROR_SUCCESS);
  if (standin::OpenInstallerHandles() != 0) Fail("LogLine", "a record was left open");
  return 0;
}
