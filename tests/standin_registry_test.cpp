// The stand-in registry keeps Windows' enumeration order and case-insensitive
// names while indexing its values; these cases pin that down, including the
// holes that deletions leave and their compaction.
#include <gtest/gtest.h>
#include <standin.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kKey[] = "SOFTWARE\\Test\\Many";

class StandinRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }

  void TearDown() override {
    if (key_) RegCloseKey(key_);
    EXPECT_EQ(standin::OpenRegistryKeys(), 0);
  }

  HKEY Open() {
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_), ERROR_SUCCESS);
    return key_;
  }

  // Every name RegEnumValueA yields from index 0 until it runs out.
  std::vector<std::string> Enumerate() {
    std::vector<std::string> names;
    char name[64];
    for (DWORD index = 0;; ++index) {
      DWORD chars = sizeof(name);
      const LSTATUS status = RegEnumValueA(key_, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(status, ERROR_SUCCESS);
      if (status != ERROR_SUCCESS) break;
      EXPECT_EQ(chars, std::strlen(name));
      names.emplace_back(name);
    }
    return names;
  }

  std::string NameAt(DWORD index) {
    char name[64];
    DWORD chars = sizeof(name);
    if (RegEnumValueA(key_, index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return "<none>";
    return name;
  }

  DWORD LongestName() {
    DWORD longest = 12345;
    EXPECT_EQ(RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    return longest;
  }

  HKEY key_ = nullptr;
};

std::string Numbered(int i) { return "C:\\Folder" + std::to_string(i) + "\\"; }

TEST_F(StandinRegistryTest, DeletionsKeepTheCreationOrderOfTheRest) {
  // Sizes below and above the point where holes get compacted away.
  for (int count : {5, 64, 300}) {
    SCOPED_TRACE(count);
    standin::Reset();
    key_ = nullptr;
    std::vector<std::string> expected;
    for (int i = 0; i < count; ++i) {
      standin::SetDwordValue(kKey, Numbered(i), 1);
      if (i % 3 != 1) expected.push_back(Numbered(i));
    }
    Open();
    for (int i = 1; i < count; i += 3) {
      ASSERT_EQ(RegDeleteValueA(key_, Numbered(i).c_str()), ERROR_SUCCESS) << i;
    }
    EXPECT_EQ(Enumerate(), expected);
    EXPECT_EQ(standin::ValueNames(kKey), expected);
    // Random access by index agrees with the walk.
    for (int index : {static_cast<int>(expected.size()) - 1, 0, static_cast<int>(expected.size()) / 2}) {
      EXPECT_EQ(NameAt(static_cast<DWORD>(index)), expected[static_cast<size_t>(index)]);
    }
    EXPECT_EQ(NameAt(static_cast<DWORD>(expected.size())), "<none>");
  }
}

TEST_F(StandinRegistryTest, DeletingAtIndexZeroWhileEnumeratingEmptiesTheKey) {
  for (int i = 0; i < 200; ++i) standin::SetDwordValue(kKey, Numbered(i), 1);
  Open();
  int deleted = 0;
  for (;;) {
    const std::string first = NameAt(0);
    if (first == "<none>") break;
    ASSERT_EQ(first, Numbered(deleted));
    ASSERT_EQ(RegDeleteValueA(key_, first.c_str()), ERROR_SUCCESS);
    ++deleted;
  }
  EXPECT_EQ(deleted, 200);
  EXPECT_EQ(LongestName(), 0u);
}

TEST_F(StandinRegistryTest, NamesMatchWithoutRegardToCase) {
  standin::SetDwordValue(kKey, "C:\\App\\", 1);
  standin::SetDwordValue(kKey, "c:\\app\\", 2);  // the same value, rewritten in place
  standin::SetDwordValue(kKey, "C:\\Other\\", 3);
  EXPECT_EQ(standin::ValueNames(kKey), (std::vector<std::string>{"C:\\App\\", "C:\\Other\\"}));
  ASSERT_TRUE(standin::GetValue(kKey, "C:\\APP\\"));
  EXPECT_EQ(standin::GetValue(kKey, "C:\\APP\\")->data[0], 2);

  Open();
  EXPECT_EQ(RegDeleteValueA(key_, "C:\\OTHER\\"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key_, "C:\\Other\\"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Enumerate(), std::vector<std::string>{"C:\\App\\"});
  // A deleted name can be made again; it then enumerates last.
  standin::SetDwordValue(kKey, "C:\\Other\\", 4);
  standin::SetDwordValue(kKey, "C:\\App\\", 5);
  EXPECT_EQ(Enumerate(), (std::vector<std::string>{"C:\\App\\", "C:\\Other\\"}));
}

TEST_F(StandinRegistryTest, LongestNameFollowsDeletions) {
  standin::SetDwordValue(kKey, "ab", 1);
  standin::SetDwordValue(kKey, "abcdef", 1);
  standin::SetDwordValue(kKey, "abcdef2", 1);
  standin::SetDwordValue(kKey, "XYZXYZ", 1);
  Open();
  EXPECT_EQ(LongestName(), 7u);
  ASSERT_EQ(RegDeleteValueA(key_, "abcdef2"), ERROR_SUCCESS);
  EXPECT_EQ(LongestName(), 6u);
  ASSERT_EQ(RegDeleteValueA(key_, "abcdef"), ERROR_SUCCESS);
  EXPECT_EQ(LongestName(), 6u);  // XYZXYZ is still there
  ASSERT_EQ(RegDeleteValueA(key_, "xyzxyz"), ERROR_SUCCESS);
  EXPECT_EQ(LongestName(), 2u);
}

}  // namespace
