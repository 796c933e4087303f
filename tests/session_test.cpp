// Session start and finish: the label, the database, the entry line, the
// stored cancel and the start's failures.
#include <windows.h>

#include "runtime/fileutil.h"
#include "runtime/wcalog.h"
#include "support.h"

namespace {

class SessionTest : public HostTest {};

const std::string k31 = "Abcdefghijklmnopqrstuvwxyz01234";
const std::string k32 = k31 + "5";

TEST_F(SessionTest, LabelOf31CharactersIsStoredWhole) {
  ASSERT_EQ(k31.size(), 31u);
  const MSIHANDLE session = standin::NewSession();
  EXPECT_EQ(WcaInitialize(session, k31.c_str()), S_OK);
  LogLine(kLogStandard, "step");
  EXPECT_EQ(FinishSession(0), 0u);
  EXPECT_EQ(Lines(), std::vector<std::string>{k31 + ":  step"});
}

TEST_F(SessionTest, LabelOf32CharactersFailsAndIsLoggedWhole) {
  const MSIHANDLE session = standin::NewSession();
  EXPECT_EQ(WcaInitialize(session, k32.c_str()), static_cast<HRESULT>(0x8007007A));
  EXPECT_FALSE(SessionIsActive());
  EXPECT_EQ(CurrentSessionHandle(), 0u);
  EXPECT_EQ(CurrentDatabaseHandle(), 0u);
  EXPECT_EQ(std::string(CurrentLogName()), k31);
  // The start stops before the verbosity is settled.
  EXPECT_FALSE(standin::AtomExists(L"WcaVerboseLogging"));
  EXPECT_FALSE(standin::AtomExists(L"WcaNotVerboseLogging"));
  EXPECT_EQ(FinishSession(ERROR_INSTALL_FAILURE), static_cast<UINT>(ERROR_INSTALL_FAILURE));
  EXPECT_EQ(Lines(),
            std::vector<std::string>{k31 + ":  Error 0x8007007a: Failed to copy CustomAction log name: " + k32});
}

TEST_F(SessionTest, WithoutDatabaseNoPropertyIsReadAndAtomsStayUntouched) {
  standin::AddAtom(L"WcaVerboseLogging");
  standin::AddAtom(L"WcaNotVerboseLogging");
  const MSIHANDLE session = standin::NewSession(false);
  standin::SetProperty(session, "LOGVERBOSE", "1");
  EXPECT_EQ(WcaInitialize(session, "NoDatabase"), S_OK);
  EXPECT_EQ(standin::CallCount("MsiGetPropertyA"), 0);
  EXPECT_EQ(standin::CallCount("MsiGetPropertyW"), 0);
  EXPECT_EQ(standin::CallCount("GlobalAddAtomW"), 0);
  EXPECT_EQ(standin::CallCount("GlobalDeleteAtom"), 0);
  EXPECT_TRUE(standin::AtomExists(L"WcaVerboseLogging"));
  EXPECT_TRUE(standin::AtomExists(L"WcaNotVerboseLogging"));
  EXPECT_EQ(FinishSession(0), 0u);
}

TEST_F(SessionTest, EntryLineShowsFileVersionWordsWhenVerbose) {
  standin::SetModuleVersion(0x00020003, 0x00040005);
  const MSIHANDLE session = standin::NewSession();
  standin::SetProperty(session, "LOGVERBOSE", "1");
  EXPECT_EQ(WcaInitialize(session, "Probe"), S_OK);
  FinishSession(0);
  EXPECT_EQ(Lines(), std::vector<std::string>{EntryLine("Probe", "2.3.4.5")});
}

TEST_F(SessionTest, EntryLineIsNotWrittenWhenNotVerbose) {
  const MSIHANDLE session = standin::NewSession();
  EXPECT_EQ(WcaInitialize(session, "Probe"), S_OK);
  FinishSession(0);
  EXPECT_TRUE(Lines().empty());
  EXPECT_TRUE(standin::AtomExists(L"WcaNotVerboseLogging"));
  // The module path is still read (its failure fails the start); the version
  // resource, needed only by the entry line, is not.
  EXPECT_EQ(standin::CallCount("GetModuleFileNameW"), 1);
  EXPECT_EQ(standin::CallCount("GetFileVersionInfoSizeW"), 0);
  EXPECT_EQ(standin::CallCount("GlobalAlloc"), 0);
}

struct Notification {
  DWORD reason;
  const char* modulePath;  // what the next entry line names
};

class ModuleNotificationTest : public SessionTest, public ::testing::WithParamInterface<Notification> {};

TEST_P(ModuleNotificationTest, OnlyProcessDetachForgetsTheModule) {
  EXPECT_EQ(ModuleNotify(standin::DllModule(), GetParam().reason), TRUE);
  PublishVerbosity(true);
  EXPECT_EQ(WcaInitialize(standin::NewSession(false), "Probe"), S_OK);
  FinishSession(0);
  EXPECT_EQ(Lines(), std::vector<std::string>{std::string("Probe:  Entering Probe in ") + GetParam().modulePath +
                                              ", version 1.0.0.0"});
}

INSTANTIATE_TEST_SUITE_P(Reasons, ModuleNotificationTest,
                         ::testing::Values(Notification{DLL_PROCESS_ATTACH, "C:\\Windows\\Installer\\MSI1A2B.tmp"},
                                           Notification{DLL_THREAD_ATTACH, "C:\\Windows\\Installer\\MSI1A2B.tmp"},
                                           Notification{DLL_THREAD_DETACH, "C:\\Windows\\Installer\\MSI1A2B.tmp"},
                                           // A null module handle names the process that loaded the DLL.
                                           Notification{DLL_PROCESS_DETACH, "C:\\Windows\\System32\\msiexec.exe"}));

enum class VersionResource { kPresent, kMissing, kWithoutFixedInfo };

struct VersionFailure {
  VersionResource resource;
  const char* call;  // a call that fails, or nullptr
  DWORD lastError;
  HRESULT result;  // what the version read answers
};

class UnreadableVersionTest : public SessionTest, public ::testing::WithParamInterface<VersionFailure> {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    if (GetParam().resource == VersionResource::kMissing) standin::RemoveModuleVersion();
    if (GetParam().resource == VersionResource::kWithoutFixedInfo) standin::RemoveModuleFixedInfo();
    if (GetParam().call) standin::FailCall(GetParam().call, GetParam().lastError);
  }
};

TEST_P(UnreadableVersionTest, EntryLineShowsZeros) {
  PublishVerbosity(true);
  const MSIHANDLE session = standin::NewSession(false);
  EXPECT_EQ(WcaInitialize(session, "Probe"), S_OK);
  FinishSession(0);
  EXPECT_EQ(Lines(), std::vector<std::string>{EntryLine("Probe", "0.0.0.0")});
}

// The read's own answer, which the session start does not examine: never a
// success, whatever last error the failing call left, and the words untouched.
TEST_P(UnreadableVersionTest, ReadFailsAndLeavesTheWords) {
  DWORD mostSignificant = 0xAAAA5555;
  DWORD leastSignificant = 0x5555AAAA;
  SetLastError(ERROR_GEN_FAILURE);  // stale: must not leak into the Result
  EXPECT_EQ(ReadModuleFileVersion(L"C:\\Windows\\Installer\\MSI1A2B.tmp", &mostSignificant, &leastSignificant),
            GetParam().result);
  EXPECT_EQ(mostSignificant, 0xAAAA5555u);
  EXPECT_EQ(leastSignificant, 0x5555AAAAu);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, UnreadableVersionTest,
    ::testing::Values(VersionFailure{VersionResource::kMissing, nullptr, 0, static_cast<HRESULT>(0x80070715)},
                      VersionFailure{VersionResource::kWithoutFixedInfo, nullptr, 0, E_FAIL},
                      VersionFailure{VersionResource::kPresent, "GetFileVersionInfoSizeW", 0, E_FAIL},
                      VersionFailure{VersionResource::kPresent, "GetFileVersionInfoW", ERROR_ACCESS_DENIED,
                                     static_cast<HRESULT>(0x80070005)},
                      VersionFailure{VersionResource::kPresent, "GetFileVersionInfoW", 0, E_FAIL},
                      VersionFailure{VersionResource::kPresent, "VerQueryValueW", ERROR_RESOURCE_TYPE_NOT_FOUND,
                                     static_cast<HRESULT>(0x80070715)},
                      VersionFailure{VersionResource::kPresent, "GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY,
                                     E_OUTOFMEMORY}));

TEST_F(SessionTest, ModulePathThatDoesNotFitIsCutAndAccepted) {
  const std::wstring longPath = L"C:\\" + std::wstring(300, L'p') + L".dll";
  standin::SetModulePath(longPath);
  PublishVerbosity(true);
  const MSIHANDLE session = standin::NewSession(false);
  EXPECT_EQ(WcaInitialize(session, "Probe"), S_OK);
  FinishSession(0);
  const std::string cut = "C:\\" + std::string(256, 'p');
  EXPECT_EQ(Lines(), std::vector<std::string>{"Probe:  Entering Probe in " + cut + ", version 1.0.0.0"});
}

TEST_F(SessionTest, EntryLineHoldsTheWholeModulePathInTheAnsiCodePage) {
  // Extracted below a profile and a folder named with characters above
  // U+00FF, one of them outside the code page.
  standin::SetModulePath(L"C:\\Users\\Zo\u00EB\\AppData\\Local\\Temp\\\u0152\u20AC\u65E5\\MSI3F.tmp");
  PublishVerbosity(true);
  EXPECT_EQ(WcaInitialize(standin::NewSession(false), "Probe"), S_OK);
  FinishSession(0);
  EXPECT_EQ(Lines(),
            std::vector<std::string>{"Probe:  Entering Probe in C:\\Users\\Zo\xEB\\AppData\\Local\\Temp\\\x8C\x80?"
                                     "\\MSI3F.tmp, version 1.0.0.0"});
}

struct ModuleNameFailure {
  DWORD lastError;
  const char* line;
  HRESULT result;
};

class ModuleNameFailureTest : public SessionTest, public ::testing::WithParamInterface<ModuleNameFailure> {};

TEST_P(ModuleNameFailureTest, FailsTheStartAndClosesTheDatabase) {
  standin::FailCall("GetModuleFileNameW", GetParam().lastError);
  const MSIHANDLE session = standin::NewSession();
  EXPECT_EQ(WcaInitialize(session, "Probe"), GetParam().result);
  EXPECT_FALSE(SessionIsActive());
  EXPECT_EQ(standin::OpenInstallerHandles(), 0);
  EXPECT_EQ(Lines(), std::vector<std::string>{GetParam().line});
  EXPECT_EQ(FinishSession(ERROR_INSTALL_FAILURE), static_cast<UINT>(ERROR_INSTALL_FAILURE));
}

INSTANTIATE_TEST_SUITE_P(
    LastErrors, ModuleNameFailureTest,
    ::testing::Values(ModuleNameFailure{ERROR_ACCESS_DENIED, "Probe:  Error 0x80070005: Failed to get module filename",
                                        static_cast<HRESULT>(0x80070005)},
                      ModuleNameFailure{0, "Probe:  Error 0x80004005: Failed to get module filename", E_FAIL}));

struct Answer {
  int answer;
  UINT finish;
};

class CancelTest : public SessionTest, public ::testing::WithParamInterface<Answer> {};

TEST_P(CancelTest, AnswerToAnyLineDecidesTheFinish) {
  const MSIHANDLE session = standin::NewSession(false);
  ASSERT_EQ(WcaInitialize(session, "Probe"), S_OK);
  standin::ScriptAnswers(INSTALLMESSAGE_INFO, {0, GetParam().answer, 0});
  LogLine(kLogStandard, "one");
  LogLine(kLogStandard, "two");
  LogLine(kLogStandard, "three");
  EXPECT_EQ(UserCancelled(), GetParam().finish == ERROR_INSTALL_USEREXIT);
  EXPECT_EQ(FinishSession(0), GetParam().finish);
}

INSTANTIATE_TEST_SUITE_P(Answers, CancelTest,
                         ::testing::Values(Answer{1602, 1602}, Answer{2, 1602}, Answer{-1, 0}, Answer{4, 0},
                                           Answer{1, 0}, Answer{0, 0}));

TEST_F(SessionTest, FinishPassesTheCodeWithoutACancel) {
  const MSIHANDLE session = standin::NewSession(false);
  ASSERT_EQ(WcaInitialize(session, "Probe"), S_OK);
  EXPECT_EQ(FinishSession(ERROR_INSTALL_FAILURE), static_cast<UINT>(ERROR_INSTALL_FAILURE));
}

TEST_F(SessionTest, CancelOfOneSessionDoesNotCarryIntoTheNext) {
  const MSIHANDLE session = standin::NewSession(false);
  standin::ScriptAnswers(INSTALLMESSAGE_INFO, {ERROR_INSTALL_USEREXIT});
  ASSERT_EQ(WcaInitialize(session, "Probe"), S_OK);
  LogLine(kLogStandard, "cancelled");
  EXPECT_EQ(FinishSession(0), static_cast<UINT>(ERROR_INSTALL_USEREXIT));
  ASSERT_EQ(WcaInitialize(session, "Probe"), S_OK);
  EXPECT_EQ(FinishSession(0), 0u);
}

TEST_F(SessionTest, LinesOutsideASessionCarryNoLabel) {
  LogLine(kLogStandard, "before %d", 1);
  const MSIHANDLE session = standin::NewSession(false);
  ASSERT_EQ(WcaInitialize(session, "Probe"), S_OK);
  LogLine(kLogStandard, "during %d", 2);
  FinishSession(0);
  LogLine(kLogStandard, "after %d", 3);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"before 1", "Probe:  during 2", "after 3"}));
}

TEST_F(SessionTest, FinishClosesTheDatabase) {
  const MSIHANDLE session = standin::NewSession();
  ASSERT_EQ(WcaInitialize(session, "Probe"), S_OK);
  EXPECT_NE(CurrentDatabaseHandle(), 0u);
  EXPECT_EQ(standin::OpenInstallerHandles(), 1);
  FinishSession(0);
  EXPECT_EQ(CurrentDatabaseHandle(), 0u);
  EXPECT_EQ(standin::OpenInstallerHandles(), 0);
}

}  // namespace
