#include "package_builder.hpp"

#include "ansi_text.hpp"

#include <bcrypt.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>

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
const char* const kUpgradeTableSql =
    "CREATE TABLE `Upgrade` (`UpgradeCode` CHAR(38) NOT NULL, `VersionMin` CHAR(20), `VersionMax` CHAR(20), "
    "`Language` CHAR(255), `Attributes` LONG NOT NULL, `Remove` CHAR(255), `ActionProperty` CHAR(72) NOT NULL "
    "PRIMARY KEY `UpgradeCode`, `VersionMin`, `VersionMax`, `Language`, `Attributes`)";
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

namespace {

std::string guidText(const unsigned char (&bytes)[16]) {
  char text[40];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

}  // namespace

bool importTables(const std::string& databasePath, const std::string& tablesFolder, std::string& error) {
  DeleteFileA(databasePath.c_str());
  MsiHandle database;
  UINT rc = MsiOpenDatabaseA(databasePath.c_str(), MSIDBOPEN_CREATE, database.put());
  if (rc != ERROR_SUCCESS) {
    error = "MsiOpenDatabaseA " + databasePath + " failed with " + std::to_string(rc);
    return false;
  }
  WIN32_FIND_DATAW found{};
  const std::wstring folder = wide(tablesFolder);
  FindHandle listing(FindFirstFileW((folder + L"\\*.idt").c_str(), &found));
  if (!listing) {
    error = "no table file in " + tablesFolder;
    return false;
  }
  do {
    rc = MsiDatabaseImportW(database.get(), folder.c_str(), found.cFileName);
    if (rc != ERROR_SUCCESS) {
      error = "MsiDatabaseImportW " + ansi(found.cFileName) + " failed with " + std::to_string(rc);
      return false;
    }
  } while (FindNextFileW(listing.get(), &found));
  rc = MsiDatabaseCommit(database.get());
  if (rc != ERROR_SUCCESS) {
    error = "MsiDatabaseCommit " + databasePath + " failed with " + std::to_string(rc);
  }
  return rc == ERROR_SUCCESS;
}

std::string packageProperty(const std::string& databasePath, const std::string& name) {
  MsiHandle database;
  MsiHandle view;
  MsiHandle record;
  const std::string query = "SELECT `Value` FROM `Property` WHERE `Property` = '" + name + "'";
  char value[256] = {};
  DWORD length = sizeof value;
  const bool read = MsiOpenDatabaseA(databasePath.c_str(), MSIDBOPEN_READONLY, database.put()) == ERROR_SUCCESS &&
                    MsiDatabaseOpenViewA(database.get(), query.c_str(), view.put()) == ERROR_SUCCESS &&
                    MsiViewExecute(view.get(), 0) == ERROR_SUCCESS &&
                    MsiViewFetch(view.get(), record.put()) == ERROR_SUCCESS &&
                    MsiRecordGetStringA(record.get(), 1, value, &length) == ERROR_SUCCESS;
  return read ? value : "";
}

std::string newGuid() {
  GUID guid{};
  CoCreateGuid(&guid);
  // Random bits: in which order they are printed does not matter.
  unsigned char bytes[16];
  std::memcpy(bytes, &guid, sizeof bytes);
  return guidText(bytes);
}

std::string stableGuid(const std::string& scope, const std::string& name) {
  HashAlgorithm sha1;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(sha1.put(), BCRYPT_SHA1_ALGORITHM, nullptr, 0))) {
    return {};
  }
  std::string input = scope + "|" + name;
  unsigned char digest[20];
  if (!BCRYPT_SUCCESS(BCryptHash(sha1.get(), nullptr, 0, reinterpret_cast<PUCHAR>(input.data()),
                                 static_cast<ULONG>(input.size()), digest, sizeof digest))) {
    return {};
  }
  unsigned char bytes[16];
  std::memcpy(bytes, digest, sizeof bytes);
  // Version 5 (name-based, SHA-1) and the standard variant.
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x50);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  return guidText(bytes);
}

}  // namespace quorvel::authoring
