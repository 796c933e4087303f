// Authors Installer package databases through the Installer's own database
// API: tables, rows (streams included) and the summary information stream.
#pragma once

#include "handles.hpp"

#include <string>
#include <vector>

namespace quorvel::authoring {

// One column value of a row to insert.
struct Field {
  enum class Kind { Null, Integer, Text, StreamFromFile };

  static Field null() { return Field{Kind::Null, 0, {}}; }
  static Field integer(int value) { return Field{Kind::Integer, value, {}}; }
  static Field text(std::string value) { return Field{Kind::Text, 0, std::move(value)}; }
  static Field streamFromFile(std::string path) { return Field{Kind::StreamFromFile, 0, std::move(path)}; }

  Kind kind;
  int number;
  std::string textOrPath;  // the text, or the file a stream is read from
};

struct Column {
  std::string name;
  Field value;
};

struct SummaryInfo {
  std::string title = "Installation Database";
  std::string subject;
  std::string author = "Quorvel";
  std::string platformAndLanguage = "x64;1033";
  std::string packageCode;  // braced GUID
  int schema = 200;         // 64-bit packages need 200 or later
  int sourceFlags = 2;      // compressed, long names
};

// Standard column layouts for the tables the packages use.
extern const char* const kPropertyTableSql;
extern const char* const kBinaryTableSql;
extern const char* const kCustomActionTableSql;
extern const char* const kErrorTableSql;
extern const char* const kInstallExecuteSequenceTableSql;
extern const char* const kDirectoryTableSql;
extern const char* const kFeatureTableSql;
extern const char* const kComponentTableSql;
extern const char* const kFeatureComponentsTableSql;
extern const char* const kFileTableSql;
extern const char* const kMediaTableSql;
extern const char* const kRegistryTableSql;
extern const char* const kUpgradeTableSql;

class PackageBuilder {
 public:
  // Creates (or replaces) the database file at path. Check ok() afterwards.
  explicit PackageBuilder(const std::string& path);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  bool execute(const std::string& sql);
  bool insert(const std::string& table, const std::vector<Column>& columns);

  // Conveniences over insert() for the rows every package here needs.
  bool property(const std::string& name, const std::string& value);
  bool binary(const std::string& name, const std::string& filePath);
  bool customAction(const std::string& action, int type, const std::string& source, const std::string& target);
  bool errorMessage(int code, const std::string& message);
  bool executeSequence(const std::string& action, const std::string& condition, int sequence);

  bool summary(const SummaryInfo& info);

  // Commits and closes the database; the builder is unusable afterwards.
  bool commit();

 private:
  bool fail(const std::string& step, UINT code);

  MsiHandle database_;
  std::string error_;
};

// Makes a new database at databasePath from every table file (the Installer's
// text table format, *.idt) in tablesFolder, each imported with the
// Installer's own MsiDatabaseImportW. Answers false with the failed step in
// error.
bool importTables(const std::string& databasePath, const std::string& tablesFolder, std::string& error);

// The value of a property in the Property table of the database at path, or
// an empty string when there is none.
std::string packageProperty(const std::string& databasePath, const std::string& name);

// Returns a new braced, upper-case GUID string.
std::string newGuid();

// Returns a braced, upper-case GUID that the same scope and name always give
// (a name-based GUID, from SHA-1), or an empty string when the system cannot
// hash. Component codes come from here: the Installer's component rules want
// one code for a resource in one place, in every build and version.
std::string stableGuid(const std::string& scope, const std::string& name);

}  // namespace quorvel::authoring
