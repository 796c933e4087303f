// EditEstimatedSize in the engine: the Uninstall entry's EstimatedSize
// becomes a REG_DWORD 0, and a missing entry fails without being created.

#include "cases.hpp"
#include "fixture.hpp"
#include "machine.hpp"

#include <optional>

namespace quorvel::engine {

namespace {

constexpr const char* kLabel = "EditEstimatedSize";
constexpr const char* kProduct = "4E8F1A2B-3C4D-4E5F-8A9B-0C1D2E3F4A5B";

enum class Prior { NoKey, KeyWithoutValue, StringValue, DwordValue };

struct EstimatedSizeCase {
  const char* name;
  Prior prior;
  std::string argument;
  UINT code;
  bool failsToOpen;
};

std::string keyFor(const std::string& argument) { return std::string(kUninstallKey) + "{" + argument + "}"; }

}  // namespace

void addEditEstimatedSizeCases(Suite& suite) {
  const std::string braced = std::string("{") + kProduct + "}";
  const EstimatedSizeCase cases[] = {
      {"missing value is created as 0", Prior::KeyWithoutValue, kProduct, kSuccess, false},
      {"string value is replaced by a DWORD 0", Prior::StringValue, kProduct, kSuccess, false},
      {"DWORD value is set to 0", Prior::DwordValue, kProduct, kSuccess, false},
      {"missing Uninstall entry fails and is not created", Prior::NoKey, kProduct, kFailure, true},
      {"braced argument is wrapped again and fails", Prior::DwordValue, braced, kFailure, true},
  };
  for (const EstimatedSizeCase& one : cases) {
    suite.add(kLabel, one.name, kLabel, [one](Case& c) {
      const std::string productKey = keyFor(kProduct);
      machine::deleteKeyTree(productKey);
      if (one.prior != Prior::NoKey) {
        SETUP_OK(c, machine::createKey(productKey));
        SETUP_OK(c, machine::setString(productKey, "DisplayName", "Quorvel engine test"));
      }
      if (one.prior == Prior::StringValue) {
        SETUP_OK(c, machine::setString(productKey, "EstimatedSize", "1234"));
      }
      if (one.prior == Prior::DwordValue) {
        SETUP_OK(c, machine::setDword(productKey, "EstimatedSize", 5120));
      }
      ActionRequest request;
      request.action = kLabel;
      request.customActionData = one.argument;
      const ActionOutcome outcome = runAction(c, request);
      const bool keyAfter = machine::keyExists(productKey);
      const std::optional<DWORD> type = machine::valueType(productKey, "EstimatedSize");
      const std::optional<DWORD> size = machine::readDword(productKey, "EstimatedSize");
      const bool wrappedKeyAfter = machine::keyExists(keyFor(one.argument));
      machine::deleteKeyTree(productKey);

      CHECK_EQ(c, outcome.code, one.code);
      std::vector<std::string> expected = {line(kLabel, "Initialized."), line(kLabel, keyFor(one.argument) + "\n")};
      if (one.failsToOpen) {
        expected.push_back(errorLine(kLabel, 0x80070006, "RegOpenKeyExA failed"));
        CHECK_EQ(c, keyAfter, one.prior != Prior::NoKey);
        CHECK(c, !wrappedKeyAfter);
        if (one.prior == Prior::DwordValue) {
          CHECK(c, size.has_value() && *size == 5120);
        }
      } else {
        CHECK(c, type.has_value() && *type == REG_DWORD);
        CHECK(c, size.has_value() && *size == 0);
      }
      CHECK_LINES(c, outcome.lines, expected);
    });
  }
}

}  // namespace quorvel::engine
