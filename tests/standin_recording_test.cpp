// The stand-in's recording switch and its reuse of closed records: a record
// made from a reused one must start empty, and with recording off the
// Installer still answers from its script while keeping nothing.
#include <gtest/gtest.h>
#include <standin.h>

#include <string>
#include <vector>

namespace {

class StandinRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override { EXPECT_EQ(standin::OpenInstallerHandles(), 0); }
};

TEST_F(StandinRecordingTest, AReusedRecordStartsWithNoFieldSet) {
  const MSIHANDLE session = standin::NewSession();
  standin::SetErrorText(1306, "Cannot remove [2].");

  MSIHANDLE first = MsiCreateRecord(2);
  ASSERT_EQ(MsiRecordSetInteger(first, 1, 1306), ERROR_SUCCESS);
  ASSERT_EQ(MsiRecordSetStringA(first, 2, "a rather long name that does not fit in place"), ERROR_SUCCESS);
  MsiProcessMessage(session, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_RETRYCANCEL), first);
  ASSERT_EQ(MsiCloseHandle(first), ERROR_SUCCESS);

  // Same field count, then fewer and more fields than the record it reuses.
  for (UINT fields : {2u, 1u, 4u}) {
    SCOPED_TRACE(fields);
    const MSIHANDLE next = MsiCreateRecord(fields);
    EXPECT_NE(next, first);
    ASSERT_EQ(MsiRecordSetInteger(next, 1, 1306), ERROR_SUCCESS);
    EXPECT_EQ(MsiRecordSetStringA(next, fields + 1, "x"), ERROR_INVALID_PARAMETER);
    MsiProcessMessage(session, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_RETRYCANCEL), next);
    EXPECT_EQ(MsiCloseHandle(next), ERROR_SUCCESS);
    EXPECT_EQ(MsiCloseHandle(next), ERROR_INVALID_HANDLE);
    const standin::Message& shown = standin::Messages().back();
    EXPECT_EQ(shown.fields.size(), fields + 1);
    if (fields >= 2) {
      EXPECT_EQ(shown.text, "Cannot remove .");
    } else {
      EXPECT_EQ(shown.text, "");  // no field 2: the template, which was never set
    }
  }
  EXPECT_EQ(standin::Messages().front().text, "Cannot remove a rather long name that does not fit in place.");
}

TEST_F(StandinRecordingTest, RecordingOffKeepsNothingButStillAnswers) {
  const MSIHANDLE session = standin::NewSession();
  standin::ScriptAnswers(INSTALLMESSAGE_INFO, {7, 1602});
  standin::SetRecording(false);

  std::vector<int> answers;
  for (int i = 0; i < 3; ++i) {
    const MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringA(record, 0, "line");
    answers.push_back(MsiProcessMessage(session, INSTALLMESSAGE_INFO, record));
    MsiCloseHandle(record);
  }
  EXPECT_EQ(answers, (std::vector<int>{7, 1602, 0}));
  EXPECT_TRUE(standin::Calls().empty());
  EXPECT_TRUE(standin::Messages().empty());

  // Injected failures still apply, and switching back on records again.
  standin::FailCall("MsiCreateRecord", ERROR_OUTOFMEMORY);
  EXPECT_EQ(MsiCreateRecord(1), 0u);
  standin::SetRecording(true);
  EXPECT_EQ(MsiCreateRecord(1), 0u);
  EXPECT_EQ(standin::Calls(), std::vector<std::string>{"MsiCreateRecord"});
}

TEST_F(StandinRecordingTest, ResetTurnsRecordingBackOn) {
  standin::SetRecording(false);
  standin::Reset();
  GlobalFindAtomW(L"WcaVerboseLogging");
  EXPECT_EQ(standin::CallCount("GlobalFindAtomW"), 1);
}

TEST_F(StandinRecordingTest, AtomLookUpsIgnoreCase) {
  standin::AddAtom(L"WcaVerboseLogging");
  EXPECT_NE(GlobalFindAtomW(L"wcaverboselogging"), 0);
  EXPECT_NE(GlobalFindAtomW(L"WCAVERBOSELOGGING"), 0);
  EXPECT_EQ(GlobalFindAtomW(L"WcaVerboseLoggin"), 0);
  EXPECT_EQ(GlobalFindAtomW(L"WcaVerboseLoggingX"), 0);
  EXPECT_EQ(GlobalFindAtomW(L""), 0);
}

}  // namespace
