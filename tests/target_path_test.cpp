// The guard against volume roots, principal folders and relative paths.
#include <windows.h>

#include "actions/targetpath.h"
#include "support.h"

namespace {

struct Target {
  const char* path;
  bool refused;
};

class TargetPathTest : public HostTest, public ::testing::WithParamInterface<Target> {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_EQ(WcaInitialize(standin::NewSession(false), "Guard"), S_OK);
  }
  void TearDown() override {
    FinishSession(0);
    HostTest::TearDown();
  }
};

TEST_P(TargetPathTest, RefusesWhatNoPackageOwns) {
  const Target& target = GetParam();
  EXPECT_EQ(RefuseUnsafeTarget(target.path), target.refused ? E_INVALIDARG : S_OK) << target.path;
  if (target.refused) {
    EXPECT_EQ(Lines(), std::vector<std::string>{std::string("Guard:  Error 0x80070057: Refusing path '") + target.path +
                                                "': it is relative, a volume root or a principal folder"});
  } else {
    EXPECT_TRUE(Lines().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TargetPathTest,
    ::testing::Values(
        // Below a volume root: accepted.
        Target{"C:\\Program Files\\Quorvel", false}, Target{"D:\\Data\\", false}, Target{"d:/data", false},
        Target{"\\\\server\\share\\folder", false}, Target{"\\\\?\\C:\\Data", false},
        Target{"\\\\?\\UNC\\server\\share\\folder", false}, Target{"C:\\Windows\\Temp", false},
        Target{"C:\\Users\\installer\\AppData", false}, Target{"", false},
        // Volume roots and what resolves to them.
        Target{"D:\\", true}, Target{"D:\\\\\\", true}, Target{"D:", true}, Target{"\\\\server\\share", true},
        Target{"\\\\server\\share\\", true}, Target{"\\\\?\\D:\\", true}, Target{"\\\\?\\UNC\\server\\share", true},
        Target{"C:\\Data\\..", true}, Target{"C:\\..\\Data", true}, Target{"C:\\.\\", true},
        // Not fully qualified: the current folder or drive would complete them.
        Target{"Data", true}, Target{"Data\\Sub", true}, Target{"\\Data", true}, Target{"D:Data", true},
        Target{".\\Data", true}, Target{"\\\\server", true}, Target{"\\\\.\\C:\\Data", true},
        // Principal folders, in any case and with trailing separators or dots.
        Target{"C:\\Windows", true}, Target{"c:\\windows\\", true}, Target{"C:\\Windows\\System32", true},
        Target{"C:\\Windows\\SysWOW64\\", true}, Target{"C:\\Program Files", true},
        Target{"C:\\Program Files (x86)\\", true}, Target{"C:\\ProgramData", true}, Target{"C:\\Users", true},
        Target{"C:\\Users\\Installer", true}, Target{"C:\\Program Files\\Quorvel\\..", true},
        Target{"C:\\Windows.", true}, Target{"C:\\Windows\\\\", true}, Target{"\\\\?\\C:\\Windows", true},
        Target{"C:/Program Files/", true}));

class TargetPathLookupTest : public TargetPathTest {};

TEST_F(TargetPathLookupTest, FolderThatCannotBeLookedUpIsLeftOut) {
  standin::FailCall("SHGetFolderPathA", ERROR_FILE_NOT_FOUND);
  standin::FailCall("GetProfilesDirectoryA", ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RefuseUnsafeTarget("C:\\Windows"), S_OK);
  EXPECT_EQ(RefuseUnsafeTarget("C:\\"), E_INVALIDARG);
}

}  // namespace
