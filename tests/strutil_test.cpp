// Counted formatting and copying, heap strings and the property read.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/handles.h"
#include "runtime/memutil.h"
#include "runtime/result.h"
#include "runtime/strutil.h"
#include "runtime/wcawrap.h"
#include "support.h"

namespace {

class StringTest : public HostTest {};

TEST_F(StringTest, CountedCallsRefuseCapacitiesOutsideTheirRange) {
  char buffer[8] = "keep";
  for (SIZE_T capacity : {SIZE_T{0}, SIZE_T{0x80000000}}) {
    EXPECT_EQ(FormatCounted(buffer, capacity, "%d", 12), E_INVALIDARG);
    EXPECT_EQ(CopyCounted(buffer, capacity, "text"), E_INVALIDARG);
    EXPECT_STREQ(buffer, "keep");
  }
}

struct Counted {
  SIZE_T capacity;
  const char* text;
  HRESULT result;
  const char* written;
};

class CountedTest : public StringTest, public ::testing::WithParamInterface<Counted> {};

TEST_P(CountedTest, FormatCutsAndTerminates) {
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(FormatCounted(buffer, GetParam().capacity, "%s", GetParam().text), GetParam().result);
  EXPECT_STREQ(buffer, GetParam().written);
}

TEST_P(CountedTest, CopyCutsAndTerminates) {
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(CopyCounted(buffer, GetParam().capacity, GetParam().text), GetParam().result);
  EXPECT_STREQ(buffer, GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(Capacities, CountedTest,
                         ::testing::Values(Counted{1, "", S_OK, ""}, Counted{1, "a", kResultTextCut, ""},
                                           Counted{6, "hello", S_OK, "hello"},
                                           Counted{5, "hello", kResultTextCut, "hell"},
                                           Counted{0x7FFFFFFF, "big", S_OK, "big"}));

// The runtime formats lines itself (wide arguments in the ANSI code page);
// every other conversion must read exactly as the C library writes it.
TEST_F(StringTest, FormatsAsTheCLibraryDoes) {
  const char* const flagSets[] = {"", "-", "+", " ", "#", "0", "-+", "+0", " 0", "#0", "-#"};
  const char* const widths[] = {"", "1", "7", "*"};
  const char* const precisions[] = {"", ".", ".0", ".3", ".12", ".*"};
  // 70000 keeps different bits in a short and a char; the 64-bit arguments
  // are the values times 3, beyond 32 bits at both ends, and the floating
  // ones the values divided by 3 (a long double by 4: it is written as a
  // double, which holds a quarter exactly).
  const int values[] = {0, 1, -1, 42, 70000, -70000, -2147483647 - 1, 2147483647};
  const int stars[] = {-9, 0, 5};
  char ours[128];
  char theirs[128];
  for (const char* conversion :
       {"d",   "i",   "u",  "o",  "x",  "X",  "hhd", "hhu", "hd", "hu", "hx", "ld", "lu", "lx", "lld",
        "llu", "llx", "zd", "zu", "zx", "jd", "ju",  "td",  "f",  "E",  "g",  "Lf", "c",  "s",  "%"}) {
    for (const char* flags : flagSets) {
      for (const char* width : widths) {
        for (const char* precision : precisions) {
          const std::string format = std::string("<%") + flags + width + precision + conversion + ">";
          const bool isText = conversion[0] == 's';
          const bool isFloating = std::strpbrk(conversion, "fEg") != nullptr;
          const bool isLong = std::strpbrk(conversion, "lzjt") != nullptr;
          for (int value : values) {
            for (int star : stars) {
              SCOPED_TRACE(format + " " + std::to_string(value) + " star " + std::to_string(star));
              const int starCount = (width[0] == '*') + (precision[0] && precision[1] == '*');
              auto both = [&](auto argument) {
                HRESULT result = E_FAIL;
                if (starCount == 2) {
                  result = FormatCounted(ours, sizeof ours, format.c_str(), star, star, argument);
                  std::snprintf(theirs, sizeof theirs, format.c_str(), star, star, argument);
                } else if (starCount == 1) {
                  result = FormatCounted(ours, sizeof ours, format.c_str(), star, argument);
                  std::snprintf(theirs, sizeof theirs, format.c_str(), star, argument);
                } else {
                  result = FormatCounted(ours, sizeof ours, format.c_str(), argument);
                  std::snprintf(theirs, sizeof theirs, format.c_str(), argument);
                }
                EXPECT_EQ(result, S_OK);
                EXPECT_STREQ(ours, theirs);
              };
              if (isText) {
                both("text");
              } else if (conversion[0] == 'L') {
                both(static_cast<long double>(value) / 4);
              } else if (isFloating) {
                both(static_cast<double>(value) / 3);
              } else if (isLong) {
                both(static_cast<long long>(value) * 3);
              } else {
                both(value);
              }
              if (starCount == 0) break;
            }
          }
        }
      }
    }
  }
}

// Wide arguments are written in the ANSI code page whatever the C runtime's
// locale; a character the code page lacks becomes its default character and
// the rest of the argument still follows. A precision counts bytes and never
// cuts a character.
struct WideArgument {
  UINT ansiCodePage;
  const char* format;
  const wchar_t* argument;
  const char* written;
};

class WideArgumentTest : public StringTest, public ::testing::WithParamInterface<WideArgument> {};

TEST_P(WideArgumentTest, IsWrittenInTheAnsiCodePage) {
  standin::SetSystemCodePages(GetParam().ansiCodePage, GetParam().ansiCodePage == 932 ? 932 : 437);
  char buffer[64];
  EXPECT_EQ(FormatCounted(buffer, sizeof buffer, GetParam().format, GetParam().argument), S_OK);
  EXPECT_STREQ(buffer, GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, WideArgumentTest,
    ::testing::Values(WideArgument{1252, "[%ls]", L"C:\\Users\\Zo\u00EB", "[C:\\Users\\Zo\xEB]"},
                      WideArgument{1252, "[%ls]", L"\u0152uvre \u20AC5",
                                   "[\x8Cuvre \x80"
                                   "5]"},
                      WideArgument{1252, "[%ls]", L"\u65E5\u672C after", "[?? after]"},
                      WideArgument{1252, "[%ls]", L"\xD83D\xDE00 pair", "[? pair]"},
                      WideArgument{1252, "[%-6ls]", L"ab", "[ab    ]"}, WideArgument{1252, "[%3.1ls]", L"ab", "[  a]"},
                      WideArgument{932, "[%ls]", L"C:\\\u6A5F\u80FD", "[C:\\\x8b\x40\x94\x5c]"},
                      WideArgument{932, "[%.3ls]", L"\u6A5F\u80FD", "[\x8b\x40]"},
                      WideArgument{932, "[%ls]", L"\uFF76\u00E9", "[\xB6?]"},
                      // A surrogate pair is one character, a lone surrogate one of its own.
                      WideArgument{65001, "[%ls]", L"\xD800\xDC00\xDBFF\xDFFF", "[\xF0\x90\x80\x80\xF4\x8F\xBF\xBF]"},
                      WideArgument{65001, "[%ls]", L"\xDC00\xD800x", "[\xEF\xBF\xBD\xEF\xBF\xBDx]"},
                      WideArgument{65001, "[%.3ls]", L"\xD800\xDC00", "[]"},
                      WideArgument{65001, "[%ls]", L"x\xD800", "[x\xEF\xBF\xBD]"}));

TEST_F(StringTest, WideCharacterIsWrittenInTheAnsiCodePage) {
  const struct {
    UINT ansiCodePage;
    const char* format;
    wchar_t character;
    const char* written;
  } cases[] = {{1252, "[%lc]", L'\u20AC', "[\x80]"},
               {1252, "[%lc]", L'\u65E5', "[?]"},
               {932, "[%-3lc]", L'\u6A5F', "[\x8b\x40 ]"}};
  for (const auto& row : cases) {
    SCOPED_TRACE(row.format);
    standin::SetSystemCodePages(row.ansiCodePage, row.ansiCodePage == 932 ? 932 : 437);
    char buffer[16];
    EXPECT_EQ(FormatCounted(buffer, sizeof buffer, row.format, row.character), S_OK);
    EXPECT_STREQ(buffer, row.written);
  }
}

// What is not a conversion is written as it stands, its argument left
// unread: an address is never written and nothing is ever stored. A format
// that ends inside a directive ends there (what follows its terminator here
// must not be read).
TEST_F(StringTest, TextThatIsNotAConversionIsWrittenAsItStands) {
  const struct {
    const char* format;
    const char* written;
  } cases[] = {{"100%\0tail", "100%"}, {"<%-5\0tail", "<%-5"}, {"<%p>", "<%p>"},
               {"<%n>", "<%n>"},       {"<%hzd>", "<%hzd>"},   {"<%lq>", "<%lq>"}};
  for (const auto& row : cases) {
    SCOPED_TRACE(row.format);
    int stored = 7;
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(FormatCounted(buffer, sizeof buffer, row.format, &stored), S_OK);
    EXPECT_STREQ(buffer, row.written);
    EXPECT_EQ(buffer[std::strlen(row.written) + 1], '#');
    EXPECT_EQ(stored, 7);
  }
}

// A text argument that is null is written as the C library writes it.
TEST_F(StringTest, NullTextArgumentsAreWrittenAsNull) {
  const char* const narrow = nullptr;
  const WCHAR* const wide = nullptr;
  char buffer[32];
  EXPECT_EQ(FormatCounted(buffer, sizeof buffer, "[%s] [%ls]", narrow, wide), S_OK);
  EXPECT_STREQ(buffer, "[(null)] [(null)]");
}

// Whatever is cut, nothing is written past the capacity: the bytes after it
// keep their fill. A width too large for any buffer is padding, not a number
// that wraps around.
TEST_F(StringTest, CutOutputNeverWritesPastTheCapacity) {
  char buffer[32];
  const auto check = [&buffer](HRESULT result, const char* written) {
    EXPECT_EQ(result, kResultTextCut);
    EXPECT_STREQ(buffer, written);
    EXPECT_EQ(std::string(buffer + 5, sizeof buffer - 5), std::string(sizeof buffer - 5, '#'));
  };
  const auto fill = [&buffer] { std::memset(buffer, '#', sizeof buffer); };
  fill();
  check(FormatCounted(buffer, 5, "abcdef%f", 1.5), "abcd");
  fill();
  check(FormatCounted(buffer, 5, "abc%.3f", 1.5), "abc1");
  fill();
  check(FormatCounted(buffer, 5, "abcdef%s%c%%", "text", 'c'), "abcd");
  fill();
  check(FormatCounted(buffer, 5, "abc%ls%d", L"wide", 12345), "abcw");
  fill();
  check(FormatCounted(buffer, 5, "%4294967297d", 5), "    ");
}

// A character whose conversion fails is written as the default character,
// and the rest of the argument still follows.
TEST_F(StringTest, CharacterThatCannotBeConvertedIsWrittenAsTheDefault) {
  standin::FailCall("WideCharToMultiByte", ERROR_INVALID_PARAMETER, 0, 1);
  char buffer[16];
  EXPECT_EQ(FormatCounted(buffer, sizeof buffer, "[%ls]", L"ab"), S_OK);
  EXPECT_STREQ(buffer, "[?b]");
}

// Narrow text is read character by character: in code page 932 the trail
// byte of 能 (94 5C) is no backslash and that of ポ (83 7C) no bar.
TEST_F(StringTest, AnsiTextIsReadCharacterByCharacter) {
  const struct {
    UINT codePage;
    const char* text;
    bool wholeCharacter;
    SIZE_T trailingBackslashes;
    SIZE_T bar;  // where the first bar is, or SIZE_T(-1)
  } cases[] = {{1252, "", true, 0, SIZE_T(-1)},
               {1252, "C:\\P\\\\", true, 2, SIZE_T(-1)},
               {1252, "a\x83|b\\", true, 1, 2},
               {932, "C:\\\x8b\x40\x94\x5c", true, 0, SIZE_T(-1)},
               {932, "\x94\x5c\\\\", true, 2, SIZE_T(-1)},
               {932, "C:\\\x83\x7c|\x83\x7c", true, 0, 5},
               {932, "C:\\\x94", false, 0, SIZE_T(-1)}};
  for (const auto& row : cases) {
    SCOPED_TRACE(row.text);
    standin::SetSystemCodePages(row.codePage, row.codePage == 932 ? 932 : 437);
    const AnsiTextEnding ending = ReadAnsiTextEnding(row.text);
    EXPECT_EQ(ending.wholeCharacter, row.wholeCharacter);
    EXPECT_EQ(ending.trailingBackslashes, row.trailingBackslashes);
    const char* const bar = FindAnsiCharacter(row.text, '|');
    EXPECT_EQ(bar ? static_cast<SIZE_T>(bar - row.text) : SIZE_T(-1), row.bar);
  }
}

TEST_F(StringTest, WideStringRefusesHugeRequestsAndKeepsTheString) {
  WCHAR* text = nullptr;
  EXPECT_EQ(WideStringAllocate(&text, 0x7FFFFFFF, FALSE), E_OUTOFMEMORY);
  EXPECT_EQ(text, nullptr);
  standin::FailCall("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY, 0, 1);
  EXPECT_EQ(WideStringAllocate(&text, 4, FALSE), E_OUTOFMEMORY);
  EXPECT_EQ(text, nullptr);

  // A string whose size cannot be read cannot be wiped and moved.
  HeapWideString existing;
  ASSERT_EQ(WideStringAllocate(existing.Receive(), 4, FALSE), S_OK);
  const WCHAR* const before = existing.Get();
  standin::FailCall("HeapSize", 0, 0, 1);
  EXPECT_EQ(WideStringAllocate(existing.Receive(), 40, TRUE), E_INVALIDARG);
  EXPECT_EQ(existing.Get(), before);
}

TEST_F(StringTest, WideStringCapacityIsCountedInCharacters) {
  HeapWideString text;
  SIZE_T capacity = 99;
  EXPECT_EQ(WideStringCapacity(text.Get(), &capacity), S_OK);
  EXPECT_EQ(capacity, 0u);
  ASSERT_EQ(WideStringAllocate(text.Receive(), 5, FALSE), S_OK);
  EXPECT_EQ(BlockSize(text.Get()), 5 * sizeof(WCHAR));
  EXPECT_EQ(WideStringCapacity(text.Get(), &capacity), S_OK);
  EXPECT_EQ(capacity, 5u);
  EXPECT_EQ(text.Get()[4], L'\0');  // a new string is zero-filled

  std::wcscpy(*text.Receive(), L"abcd");
  for (BOOL wipe : {FALSE, TRUE}) {
    ASSERT_EQ(WideStringAllocate(text.Receive(), 40, wipe), S_OK);
    EXPECT_STREQ(text.Get(), L"abcd");
    // A resized string is not zero-filled: the caller writes it.
    EXPECT_EQ(reinterpret_cast<const BYTE*>(text.Get())[40 * sizeof(WCHAR) - 1], standin::kUnsetHeapByte);
    ASSERT_EQ(WideStringAllocate(text.Receive(), 5, wipe), S_OK);
    EXPECT_EQ(WideStringCapacity(text.Get(), &capacity), S_OK);
    EXPECT_EQ(capacity, 5u);
  }
  standin::FailCall("HeapSize", 0);
  EXPECT_EQ(WideStringCapacity(text.Get(), &capacity), E_FAIL);
}

// Zeroing costs a pass over the block, so it is done exactly when asked for;
// a block asked to be zeroed is read as zeros. The contents are kept through
// every resize, in place or moved.
TEST_F(StringTest, BlocksAreZeroFilledExactlyWhenAsked) {
  const std::string kept = "kept";
  for (BOOL zero : {FALSE, TRUE}) {
    SCOPED_TRACE(zero);
    const BYTE fill = zero ? 0 : standin::kUnsetHeapByte;
    auto* block = static_cast<BYTE*>(BlockAllocate(4, zero));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::vector<BYTE>(block, block + 4), std::vector<BYTE>(4, fill));
    std::memcpy(block, kept.data(), kept.size());

    block = static_cast<BYTE*>(BlockResize(block, 8, zero));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(block, block + 4), kept);
    EXPECT_EQ(std::vector<BYTE>(block + 4, block + 8), std::vector<BYTE>(4, fill));

    // Within its last 16-byte granule the block grows in place, past it the
    // contents move to a new block.
    for (SIZE_T bytes : {SIZE_T{12}, SIZE_T{40}}) {
      SCOPED_TRACE(bytes);
      LPVOID resized = nullptr;
      ASSERT_EQ(BlockResizeWiping(block, bytes, zero, &resized), S_OK);
      EXPECT_EQ(resized == block, bytes == 12);
      block = static_cast<BYTE*>(resized);
      EXPECT_EQ(std::string(block, block + 4), kept);
      EXPECT_EQ(std::vector<BYTE>(block + bytes - 4, block + bytes), std::vector<BYTE>(4, fill));
    }
    EXPECT_EQ(BlockFree(block), S_OK);
  }
}

// Growing past the block's 16-byte granule moves the contents, and so does a
// shrink that the heap cannot make in place: only what fits is copied.
TEST_F(StringTest, WipingResizeLeavesZerosInTheBlockItGivesUp) {
  const std::string secret = "secret, and more of the secret....";
  const struct {
    SIZE_T from;
    SIZE_T to;
    bool inPlaceFails;
  } cases[] = {{8, 64, false}, {32, 8, true}};
  for (const auto& row : cases) {
    SCOPED_TRACE(row.to);
    auto* block = static_cast<char*>(BlockAllocate(row.from, FALSE));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, secret.data(), row.from);
    if (row.inPlaceFails) standin::FailCall("HeapReAlloc", ERROR_NOT_ENOUGH_MEMORY, 0, 1);
    LPVOID resized = nullptr;
    ASSERT_EQ(BlockResizeWiping(block, row.to, FALSE, &resized), S_OK);
    ASSERT_NE(resized, block);
    EXPECT_EQ(BlockSize(resized), row.to);
    const SIZE_T kept = row.from < row.to ? row.from : row.to;
    EXPECT_EQ(std::string(static_cast<const char*>(resized), kept), secret.substr(0, kept));
    EXPECT_EQ(standin::LastFreedBlock(), std::vector<BYTE>(row.from, 0));
    EXPECT_EQ(BlockFree(resized), S_OK);
  }
}

TEST_F(StringTest, WipingResizeFailures) {
  LPVOID block = BlockAllocate(8, TRUE);
  ASSERT_NE(block, nullptr);
  LPVOID resized = nullptr;
  standin::FailCall("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY, 0, 1);
  EXPECT_EQ(BlockResizeWiping(block, 64, FALSE, &resized), E_OUTOFMEMORY);
  EXPECT_EQ(resized, nullptr);
  standin::FailCall("HeapSize", 0, 0, 1);
  EXPECT_EQ(BlockResizeWiping(block, 64, FALSE, &resized), E_INVALIDARG);
  EXPECT_EQ(BlockFree(block), S_OK);
  standin::FailCall("HeapFree", ERROR_INVALID_PARAMETER, 0, 1);
  LPVOID other = BlockAllocate(8, FALSE);
  EXPECT_EQ(BlockFree(other), static_cast<HRESULT>(0x80070057));
  EXPECT_EQ(BlockFree(other), S_OK);
}

TEST_F(StringTest, HeapTextGrowsAcrossBlocksAndKeepsItsTextWhenGrowingFails) {
  NarrowText text;
  EXPECT_STREQ(text.Get(), "");
  const std::string piece(100, 'p');
  std::string expected;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(text.Append(piece.c_str()), S_OK);
    expected += piece;
  }
  EXPECT_EQ(text.Length(), expected.size());
  EXPECT_EQ(text.Get(), expected);

  // The next growth must move the block: both ways of getting one fail.
  standin::FailCall("HeapReAlloc", ERROR_NOT_ENOUGH_MEMORY, 0, 1);
  EXPECT_EQ(text.Append(std::string(1000, 'q').c_str()), E_OUTOFMEMORY);
  EXPECT_EQ(text.Get(), expected);
  text.Truncate(3);
  EXPECT_STREQ(text.Get(), "ppp");
  EXPECT_EQ(text.Assign("abc"), S_OK);
  EXPECT_STREQ(text.Get(), "abc");
}

TEST_F(StringTest, HeapTextListOwnsCopiesAndLeavesNothingBehindWhenACopyFails) {
  WideTextList list;
  ASSERT_EQ(list.Append(L"first"), S_OK);
  ASSERT_EQ(list.Append(L"second and cut", 6), S_OK);
  standin::FailCall("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY, 0, 1);
  EXPECT_EQ(list.Append(L"third"), E_OUTOFMEMORY);
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_STREQ(list[0], L"first");
  EXPECT_STREQ(list[1], L"second");
  EXPECT_EQ(standin::LiveHeapBlocks(), 3) << "the list's own block and one per text";
}

class PropertyTest : public StringTest {
 protected:
  void SetUp() override {
    StringTest::SetUp();
    session_ = standin::NewSession(false);
    ASSERT_EQ(WcaInitialize(session_, "Probe"), S_OK);
  }
  void TearDown() override {
    FinishSession(0);
    StringTest::TearDown();
  }
  MSIHANDLE session_ = 0;
};

TEST_F(PropertyTest, UnsetOrEmptyPropertyGivesEmptyStringOfCapacityOne) {
  standin::SetProperty(session_, "Empty", "");
  for (LPCWSTR name : {L"Unset", L"Empty"}) {
    HeapWideString value;
    EXPECT_EQ(ReadPropertyString(name, value.Receive()), S_OK);
    ASSERT_NE(value.Get(), nullptr);
    EXPECT_STREQ(value.Get(), L"");
    SIZE_T capacity = 0;
    EXPECT_EQ(WideStringCapacity(value.Get(), &capacity), S_OK);
    EXPECT_EQ(capacity, 1u);
  }
  EXPECT_TRUE(Lines().empty());
}

TEST_F(PropertyTest, ExistingStringGrowsToTheValue) {
  const std::string long_value(300, 'q');
  standin::SetProperty(session_, "Long", long_value);
  HeapWideString value;
  ASSERT_EQ(WideStringAllocate(value.Receive(), 4, FALSE), S_OK);
  EXPECT_EQ(ReadPropertyString(L"Long", value.Receive()), S_OK);
  EXPECT_EQ(std::wstring(value.Get()), std::wstring(300, L'q'));
  SIZE_T capacity = 0;
  WideStringCapacity(value.Get(), &capacity);
  EXPECT_EQ(capacity, 301u);
  EXPECT_EQ(standin::CallCount("MsiGetPropertyW"), 2);
}

TEST_F(PropertyTest, BadArgumentsAreRefusedWithoutALine) {
  HeapWideString value;
  EXPECT_EQ(ReadPropertyString(nullptr, value.Receive()), E_INVALIDARG);
  EXPECT_EQ(ReadPropertyString(L"", value.Receive()), E_INVALIDARG);
  EXPECT_EQ(ReadPropertyString(L"Name", nullptr), E_INVALIDARG);
  EXPECT_TRUE(Lines().empty());
}

struct ReadFailure {
  const char* call;
  int skip;
  bool existingString;
  HRESULT result;
  const char* line;
};

class PropertyFailureTest : public PropertyTest, public ::testing::WithParamInterface<ReadFailure> {};

TEST_P(PropertyFailureTest, LogsAndKeepsTheStringWithTheCaller) {
  const ReadFailure& failure = GetParam();
  standin::SetProperty(session_, "Name", "value that is long enough");
  HeapWideString value;
  if (failure.existingString) {
    ASSERT_EQ(WideStringAllocate(value.Receive(), 2, FALSE), S_OK);
  }
  standin::FailCall(failure.call, ERROR_INVALID_HANDLE, failure.skip, 1);
  EXPECT_EQ(ReadPropertyString(L"Name", value.Receive()), failure.result);
  EXPECT_EQ(Lines(), std::vector<std::string>{failure.line});
}

INSTANTIATE_TEST_SUITE_P(
    Steps, PropertyFailureTest,
    ::testing::Values(ReadFailure{"MsiGetPropertyW", 0, false, static_cast<HRESULT>(0x80070006),
                                  "Probe:  Error 0x80070006: Failed to allocate string for Property 'Name'"},
                      ReadFailure{"HeapAlloc", 0, false, E_OUTOFMEMORY,
                                  "Probe:  Error 0x8007000e: Failed to allocate string for Property 'Name'"},
                      ReadFailure{"MsiGetPropertyW", 1, false, static_cast<HRESULT>(0x80070006),
                                  "Probe:  Error 0x80070006: Failed to get data for property 'Name'"},
                      ReadFailure{"HeapSize", 0, true, E_FAIL,
                                  "Probe:  Error 0x80004005: Failed to get previous size of property data string."},
                      ReadFailure{"HeapReAlloc", 0, true, E_OUTOFMEMORY,
                                  "Probe:  Error 0x8007000e: Failed to allocate string for Property 'Name'"},
                      ReadFailure{"MsiGetPropertyW", 1, true, static_cast<HRESULT>(0x80070006),
                                  "Probe:  Error 0x80070006: Failed to get data for property 'Name'"}));

TEST_F(PropertyTest, PropertyHasValueTellsEmptyFromSet) {
  standin::SetProperty(session_, "Empty", "");
  standin::SetProperty(session_, "Zero", "0");
  EXPECT_FALSE(PropertyHasValue("Unset"));
  EXPECT_FALSE(PropertyHasValue("Empty"));
  EXPECT_TRUE(PropertyHasValue("Zero"));
}

}  // namespace
