// EditEstimatedSize: the Uninstall entry's EstimatedSize becomes a REG_DWORD
// 0; an entry that does not exist fails and is never created.
#include <windows.h>

#include <cstring>

#include "action_support.h"
#include "actions/exports.h"

namespace {

constexpr char kProduct[] = "4E8F1A2B-3C4D-4E5F-8A9B-0C1D2E3F4A5B";
constexpr char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string EntryOf(const std::string& argument) { return std::string(kUninstall) + "{" + argument + "}"; }

std::string Line(const std::string& text) { return "EditEstimatedSize:  " + text; }

const std::set<std::string> kRegistryCalls = {"RegOpenKeyExA", "RegSetValueExA", "RegCloseKey"};

class EditEstimatedSizeTest : public ActionTest {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    SetArgument(kProduct);
  }

  std::optional<DWORD> EstimatedSize() const {
    auto value = standin::GetValue(EntryOf(kProduct), "EstimatedSize");
    if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) return std::nullopt;
    DWORD size = 0;
    std::memcpy(&size, value->data.data(), sizeof size);
    return size;
  }
};

struct Prior {
  const char* name;
  std::optional<standin::RegistryValue> value;
};

TEST_F(EditEstimatedSizeTest, WritesADwordZeroWhateverWasThere) {
  const Prior priors[] = {
      {"no value", std::nullopt},
      {"string", standin::RegistryValue{REG_SZ, {'1', 0, '2', 0, 0, 0}}},
      {"binary", standin::RegistryValue{REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8}}},
      {"dword", standin::RegistryValue{REG_DWORD, {0x00, 0x14, 0, 0}}},
  };
  for (const Prior& prior : priors) {
    SCOPED_TRACE(prior.name);
    Restart();
    standin::CreateKey(EntryOf(kProduct));
    if (prior.value) standin::SetValue(EntryOf(kProduct), "EstimatedSize", prior.value->type, prior.value->data);

    EXPECT_EQ(EditEstimatedSize(session_), kSuccess);
    EXPECT_EQ(EstimatedSize(), std::optional<DWORD>(0));
    EXPECT_EQ(ActionLines("EditEstimatedSize"),
              (std::vector<std::string>{Line("Initialized."), Line(EntryOf(kProduct) + "\n")}));
    EXPECT_EQ(CallsAmong(kRegistryCalls), (std::vector<std::string>{"RegOpenKeyExA", "RegSetValueExA", "RegCloseKey"}));
  }
}

TEST_F(EditEstimatedSizeTest, KeyPathLineIsPrefixBracesAndArgument) {
  standin::CreateKey(EntryOf(kProduct));
  ASSERT_EQ(EditEstimatedSize(session_), kSuccess);
  const std::vector<std::string> lines = ActionLines("EditEstimatedSize");
  ASSERT_EQ(lines.size(), 2u);
  const std::string keyLine = lines[1].substr(Line("").size());
  EXPECT_EQ(keyLine.size(), 90u + 1u) << "90 characters of key path, then the format's newline";
  EXPECT_EQ(keyLine,
            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{4E8F1A2B-3C4D-4E5F-8A9B-0C1D2E3F4A5B}\n");
}

struct OpenFailure {
  const char* name;
  bool entryExists;
  std::string argument;
  std::optional<DWORD> injected;  // an error for RegOpenKeyExA; 0 is success with no key
  bool keyHandedBack = false;     // the failed open still hands back a key
  const char* error = "Error 0x80070006: RegOpenKeyExA failed";
};

TEST_F(EditEstimatedSizeTest, AnyFailedOpenIsAnInvalidHandleAndCreatesNothing) {
  const std::string braced = std::string("{") + kProduct + "}";
  const OpenFailure failures[] = {
      {"no Uninstall entry", false, kProduct, std::nullopt},
      {"braced argument is wrapped again", true, braced, std::nullopt},
      {"access denied", true, kProduct, ERROR_ACCESS_DENIED},
      {"success without a key", true, kProduct, 0},
      // The open's answer is trusted over the handle, which is still closed.
      {"access denied with a key", true, kProduct, ERROR_ACCESS_DENIED, true, "Error 0x80070005: RegOpenKeyExA failed"},
  };
  for (const OpenFailure& failure : failures) {
    SCOPED_TRACE(failure.name);
    Restart();
    SetArgument(failure.argument);
    if (failure.entryExists) standin::SetDwordValue(EntryOf(kProduct), "EstimatedSize", 5120);
    if (failure.injected) standin::FailCall("RegOpenKeyExA", *failure.injected);
    standin::HandBackKeyWithFailedOpen(failure.keyHandedBack);

    EXPECT_EQ(EditEstimatedSize(session_), kFailure);
    EXPECT_EQ(
        ActionLines("EditEstimatedSize"),
        (std::vector<std::string>{Line("Initialized."), Line(EntryOf(failure.argument) + "\n"), Line(failure.error)}));
    EXPECT_EQ(CallsAmong(kRegistryCalls), failure.keyHandedBack
                                              ? (std::vector<std::string>{"RegOpenKeyExA", "RegCloseKey"})
                                              : std::vector<std::string>{"RegOpenKeyExA"});
    EXPECT_EQ(standin::KeyExists(EntryOf(kProduct)), failure.entryExists);
    EXPECT_FALSE(standin::KeyExists(EntryOf(braced)));
    if (failure.entryExists) {
      EXPECT_EQ(EstimatedSize(), std::optional<DWORD>(5120));
    }
  }
}

TEST_F(EditEstimatedSizeTest, FailedWriteClosesTheKeyFirstAndFails) {
  standin::SetDwordValue(EntryOf(kProduct), "EstimatedSize", 5120);
  standin::FailCall("RegSetValueExA", ERROR_ACCESS_DENIED);

  EXPECT_EQ(EditEstimatedSize(session_), kFailure);
  EXPECT_EQ(ActionLines("EditEstimatedSize"),
            (std::vector<std::string>{Line("Initialized."), Line(EntryOf(kProduct) + "\n"),
                                      Line("Error 0x80070005: RegSetValueExA failed")}));
  // Closed straight after the write, before the failure is even logged.
  const std::vector<std::string> calls =
      CallsAmong({"RegOpenKeyExA", "RegSetValueExA", "RegCloseKey", "MsiProcessMessage"});
  EXPECT_EQ(std::vector<std::string>(calls.begin() + (calls.size() - 3), calls.end()),
            (std::vector<std::string>{"RegSetValueExA", "RegCloseKey", "MsiProcessMessage"}));
  EXPECT_EQ(standin::OpenRegistryKeys(), 0);
  EXPECT_EQ(EstimatedSize(), std::optional<DWORD>(5120));
}

}  // namespace
