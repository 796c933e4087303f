// Formats and arguments to the counted formatting and copying, and to the
// log lines built on them. The fuzz bytes are read as a plan: literal runs
// and conversions (flags, width, precision, each with an argument of the
// type it takes, '*' widths and precisions included), so that every format
// is well-formed; a format that does not match its arguments is undefined in
// printf itself and says nothing about the runtime. Each result is checked
// against snprintf into a buffer large enough, wide arguments converted to
// the ANSI code page (1252) beforehand as the runtime writes them; a mismatch
// aborts.
#include <standin.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
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
  std::string ansiText;  // wideText as the ANSI code page writes it
};

struct Plan {
  std::string format;
  std::string oracleFormat;  // the format with %ls read as %s of ansiText
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
    {"d", "-+ 0", true, Type::kInt},     {"i", "-+ 0", true, Type::kInt},        {"u", "-0", true, Type::kUnsigned},
    {"x", "-#0", true, Type::kUnsigned}, {"X", "-#0", true, Type::kUnsigned},    {"o", "-#0", true, Type::kUnsigned},
    {"c", "-", false, Type::kInt},       {"lld", "-+ 0", true, Type::kLongLong}, {"llx", "-#0", true, Type::kLongLong},
    {"f", "-+ #0", true, Type::kDouble}, {"e", "-+ #0", true, Type::kDouble},    {"g", "-+ #0", true, Type::kDouble},
    {"s", "-", true, Type::kString},     {"ls", "-", true, Type::kWide},
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
        const std::string literal = c == '%' ? "%%" : std::string(1, c ? c : ' ');
        plan.format += literal;
        plan.oracleFormat += literal;
      }
      continue;
    }
    if (plan.arguments.size() >= kMostArguments) {
      plan.format += "%%";
      plan.oracleFormat += "%%";
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
    plan.format += directive + conversion.letters;
    plan.oracleFormat += directive + (conversion.type == Type::kWide ? "s" : conversion.letters);
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
  if (result != expected)
    Fail(call, "answered " + std::to_string(result) + " for " + std::to_string(full.size()) + " characters in " +
                   std::to_string(capacity));
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

// The product's call and the C library's, each with its own arguments.
template <typename Product, typename Oracle>
void Check(const Plan& plan, const Product& product, const Oracle& oracle) {
  const char* format = plan.format.c_str();
  const char* oracleFormat = plan.oracleFormat.c_str();
  const int needed =
      std::apply([&](auto... values) { return std::snprintf(nullptr, 0, oracleFormat, values...); }, oracle);
  if (needed < 0) Fail("snprintf", "the oracle could not render " + plan.oracleFormat);
  std::string full(static_cast<size_t>(needed) + 1, '\0');
  std::apply([&](auto... values) { std::snprintf(full.data(), full.size(), oracleFormat, values...); }, oracle);
  full.resize(static_cast<size_t>(needed));

  for (bool viaList : {false, true}) {
    const char* call = viaList ? "FormatCountedList" : "FormatCounted";
    std::vector<char> buffer = BufferFor(plan.capacity);
    const HRESULT result = std::apply(
        [&](auto... values) {
          return viaList ? ThroughList(buffer.data(), plan.capacity, format, values...)
                         : FormatCounted(buffer.data(), plan.capacity, format, values...);
        },
        product);
    if (!ValidCapacity(plan.capacity)) {
      CheckRefused(result, buffer, call);
    } else {
      CheckCounted(result, buffer, plan.capacity, full, call);
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
  if (plan.format.size() > 1900) return;
  standin::ClearMessages();
  std::apply([&](auto... values) { LogLine(kLogStandard, format, values...); }, product);
  std::apply([&](auto... values) { LogErrorLine(static_cast<HRESULT>(0x80070057), format, values...); }, product);
  const std::vector<std::string> lines = standin::LogLines();
  // A record's text ends at the first NUL, which a %c of 0 puts in the text.
  auto asRecorded = [](const std::string& text) { return std::string(text.substr(0, 2047).c_str()); };
  const std::string prefix = std::string(kLabel) + ":  ";
  if (lines.size() != 2 || lines[0] != asRecorded(prefix + full) ||
      lines[1] != asRecorded(prefix + "Error 0x80070057: " + asRecorded(full))) {
    Fail("LogLine", "the lines differ from snprintf's");
  }
}

template <typename Product, typename Oracle>
void Invoke(const Plan& plan, size_t next, const Product& product, const Oracle& oracle) {
  if (next == plan.arguments.size()) {
    Check(plan, product, oracle);
    return;
  }
  if constexpr (std::tuple_size_v<Product> < kMostArguments) {
    const Argument& argument = plan.arguments[next];
    auto both = [&](auto forProduct, auto forOracle) {
      Invoke(plan, next + 1, std::tuple_cat(product, std::make_tuple(forProduct)),
             std::tuple_cat(oracle, std::make_tuple(forOracle)));
    };
    switch (argument.type) {
      case Type::kInt:
        return both(argument.integer, argument.integer);
      case Type::kUnsigned:
        return both(argument.natural, argument.natural);
      case Type::kLongLong:
        return both(argument.wide, argument.wide);
      case Type::kDouble:
        return both(argument.real, argument.real);
      case Type::kString:
        return both(argument.text.c_str(), argument.text.c_str());
      case Type::kWide:
        return both(argument.wideText.c_str(), argument.ansiText.c_str());
    }
  }
}

// The wide text as the ANSI code page writes it, with its default character
// for what it lacks.
std::string AnsiOf(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int units = static_cast<int>(wide.size());
  const int bytes =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), units, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), units, ansi.data(), bytes, nullptr, nullptr);
  return ansi;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader reader(data, size);
  standin::Reset();
  Plan plan = ReadPlan(reader);
  for (Argument& argument : plan.arguments) argument.ansiText = AnsiOf(argument.wideText);

  ModuleNotify(standin::DllModule(), DLL_PROCESS_ATTACH);
  const MSIHANDLE session = standin::NewSession(false);
  if (WcaInitialize(session, kLabel) != S_OK) Fail("WcaInitialize", "the session did not start");
  Invoke(plan, 0, std::tuple<>(), std::tuple<>());
  FinishSession(ERROR_SUCCESS);
  if (standin::OpenInstallerHandles() != 0) Fail("LogLine", "a record was left open");
  return 0;
}
