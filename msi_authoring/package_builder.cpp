#include "package_builder.hpp"

#include <objbase.h>

#include <cstdio>

namespace quorvel::authoring {

namespace {

// Summary information property ids of Installer packages.
constexpr UINT kTitle = 2;
constexpr UINT kSubject = 3;
constexpr UINT kAuthor = 4;
constexpr UINT kTemplate = 7;
constexpr UINT kRevisionNumber = 9;
constexpr UINT kPageCount = 14;
constexpr UINT kWordCount = 15;

}  // namespace

const char* const kPropertyTableSql =
    "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE "
    "PRIMARY KEY `Property`)";
const char* const kBinaryTableSql =
    "CREATE TABLE `Binary` (`Name` CHAR(72) NOT NULL, `Data` OBJECT NOT NULL PRIMARY KEY `Name`)";
const char* const kCustomActionTableSql =
    "CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), "
    "`Target` LONGCHAR PRIMARY KEY `Action`)";
const char* const kErrorTableSql =
    "CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE PRIMARY KEY `Error`)";
const char* const kInstallExecuteSequenceTableSql =
    "CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), "
    "`Sequence` SHORT PRIMARY KEY `Action`)";
const char* const kDirectoryTableSql =
    "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
    "`DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)";
const char* const kFeatureTableSql =
    "CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64) "
    "LOCALIZABLE, `Description` CHAR(255) LOCALIZABLE, `Display` SHORT, `Level` SHORT NOT NULL, "
    "`Directory_` CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)";
const char* const kComponentTableSql =
    "CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` "
    "CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) "
    "PRIMARY KEY `Component`)";
const char* const kFeatureComponentsTableSql =
    "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
    "PRIMARY KEY `Feature_`, `Component_`)";
const char* const kFileTableSql =
    "CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL "
    "LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, "
    "`Sequence` SHORT NOT NULL PRIMARY KEY `File`)";
const char* const kMediaTableSql =
    "CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` SHORT NOT NULL, `DiskPrompt` CHAR(64) "
    "LOCALIZABLE, `Cabinet` CHAR(255), `VolumeLabel` CHAR(32), `Source` CHAR(72) PRIMARY KEY `DiskId`)";
const char* const kRegistryTableSql =
    "CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL "
    "LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Value` LONGCHAR LOCALIZABLE, `Component_` CHAR(72) NOT NULL "
    "PRIMARY KEY `Registry`)";

PackageBuilder::PackageBuilder(const std::string& path) {
  DeleteFileA(path.c_str());
  const UINT rc = MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_CREATE, database_.put());
  if (rc != ERROR_SUCCESS) {
    fail("MsiOpenDatabase " + path, rc);
  }
}

bool PackageBuilder::fail(const std::string& step, UINT code) {
  if (error_.empty()) {
    error_ = step + " failed with " + std::to_string(code);
  }
  return false;
}

bool PackageBuilder::execute(const std::string& sql) {
  if (!ok()) {
    return false;
  }
  MsiHandle view;
  UINT rc = MsiDatabaseOpenViewA(database_.get(), sql.c_str(), view.put());
  if (rc == ERROR_SUCCESS) {
    rc = MsiViewExecute(view.get(), 0);
  }
  return rc == ERROR_SUCCESS || fail("SQL '" + sql + "'", rc);
}

bool PackageBuilder::insert(const std::string& table, const std::vector<Column>& columns) {
  if (!ok()) {
    return false;
  }
  std::string names;
  std::string marks;
  for (const Column& column : columns) {
    names += (names.empty() ? "`" : ", `") + column.name + "`";
    marks += marks.empty() ? "?" : ", ?";
  }
  const std::string sql = "INSERT INTO `" + table + "` (" + names + ") VALUES (" + marks + ")";
  MsiHandle record(MsiCreateRecord(static_cast<UINT>(columns.size())));
  UINT field = 1;
  for (const Column& column : columns) {
    UINT rc = ERROR_SUCCESS;
    switch (column.value.kind) {
      case Field::Kind::Null:
        break;
      case Field::Kind::Integer:
        rc = MsiRecordSetInteger(record.get(), field, column.value.number);
        break;
      case Field::Kind::Text:
        rc = MsiRecordSetStringA(record.get(), field, column.value.textOrPath.c_str());
        break;
      case Field::Kind::StreamFromFile:
        rc = MsiRecordSetStreamA(record.get(), field, column.value.textOrPath.c_str());
        break;
    }
    if (rc != ERROR_SUCCESS) {
      return fail("setting " + table + "." + column.name, rc);
    }
    ++field;
  }
  MsiHandle view;
  UINT rc = MsiDatabaseOpenViewA(database_.get(), sql.c_str(), view.put());
  if (rc == ERROR_SUCCESS) {
    rc = MsiViewExecute(view.get(), record.get());
  }
  return rc == ERROR_SUCCESS || fail("SQL '" + sql + "'", rc);
}

bool PackageBuilder::property(const std::string& name, const std::string& value) {
  return insert("Property", {{"Property", Field::text(name)}, {"Value", Field::text(value)}});
}

bool PackageBuilder::binary(const std::string& name, const std::string& filePath) {
  return insert("Binary", {{"Name", Field::text(name)}, {"Data", Field::streamFromFile(filePath)}});
}

bool PackageBuilder::customAction(const std::string& action, int type, const std::string& source,
                                  const std::string& target) {
  return insert("CustomAction", {{"Action", Field::text(action)},
                                 {"Type", Field::integer(type)},
                                 {"Source", Field::text(source)},
                                 {"Target", target.empty() ? Field::null() : Field::text(target)}});
}

bool PackageBuilder::errorMessage(int code, const std::string& message) {
  return insert("Error", {{"Error", Field::integer(code)}, {"Message", Field::text(message)}});
}

bool PackageBuilder::executeSequence(const std::string& action, const std::string& condition, int sequence) {
  return insert("InstallExecuteSequence", {{"Action", Field::text(action)},
                                           {"Condition", condition.empty() ? Field::null() : Field::text(condition)},
                                           {"Sequence", Field::integer(sequence)}});
}

bool PackageBuilder::summary(const SummaryInfo& info) {
  if (!ok()) {
    return false;
  }
  MsiHandle stream;
  UINT rc = MsiGetSummaryInformationA(database_.get(), nullptr, 20, stream.put());
  if (rc != ERROR_SUCCESS) {
    return fail("MsiGetSummaryInformation", rc);
  }
  struct TextProperty {
    UINT id;
    const std::string& value;
  };
  const TextProperty texts[] = {{kTitle, info.title},
                                {kSubject, info.subject},
                                {kAuthor, info.author},
                                {kTemplate, info.platformAndLanguage},
                                {kRevisionNumber, info.packageCode}};
  for (const TextProperty& text : texts) {
    rc = MsiSummaryInfoSetPropertyA(stream.get(), text.id, VT_LPSTR, 0, nullptr, text.value.c_str());
    if (rc != ERROR_SUCCESS) {
      return fail("summary property " + std::to_string(text.id), rc);
    }
  }
  const struct {
    UINT id;
    int value;
  } numbers[] = {{kPageCount, info.schema}, {kWordCount, info.sourceFlags}};
  for (const auto& number : numbers) {
    rc = MsiSummaryInfoSetPropertyA(stream.get(), number.id, VT_I4, number.value, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      return fail("summary property " + std::to_string(number.id), rc);
    }
  }
  rc = MsiSummaryInfoPersist(stream.get());
  return rc == ERROR_SUCCESS || fail("MsiSummaryInfoPersist", rc);
}

bool PackageBuilder::commit() {
  if (!ok()) {
    return false;
  }
  const UINT rc = MsiDatabaseCommit(database_.get());
  database_.reset();
  return rc == ERROR_SUCCESS || fail("MsiDatabaseCommit", rc);
}

std::string newGuid() {
  GUID guid{};
  CoCreateGuid(&guid);
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

}  // namespace quorvel::authoring
