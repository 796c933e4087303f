#include "actions/deletion.h"

#include "runtime/result.h"
#include "runtime/wcalog.h"

namespace {

// The attributes a caller may set; the rest (folder, reparse point, ...)
// belong to the file system.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

BOOL SetAttributes(HANDLE object, DWORD attributes) {
  FILE_BASIC_INFO basic = {};  // times of 0 stay as they are
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(object, FileBasicInfo, &basic, sizeof basic);
}

// Deletes files and links as they are reached, and each folder once what it
// held is gone.
class TreeDeletion : public TreeVisitor {
 public:
  HRESULT Visit(const WalkedObject& object) override {
    return object.kind == ObjectKind::kFolder ? S_OK : Delete(object);
  }
  bool WaitsForFolders() const override { return true; }
  HRESULT Leave(const WalkedObject& folder) override { return Delete(folder); }

 private:
  static HRESULT Delete(const WalkedObject& object) {
    const DWORD error = DeleteOnClose(object);
    if (!error) return S_OK;
    const HRESULT result = ResultFromWin32(static_cast<int32_t>(error));
    LogErrorLine(result, "Failed to delete '%ls'", object.path);
    return result;
  }
};

}  // namespace

DWORD DeleteOnClose(const WalkedObject& object) {
  const DWORD kept = object.attributes & kSettableAttributes;
  const bool readOnly = kept & FILE_ATTRIBUTE_READONLY;
  if (readOnly && !SetAttributes(object.handle, kept & ~FILE_ATTRIBUTE_READONLY)) {
    return ErrorOrGeneralFailure(GetLastError());
  }
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  DWORD error = 0;
  if (!SetFileInformationByHandle(object.handle, FileDispositionInfo, &disposition, sizeof disposition)) {
    error = ErrorOrGeneralFailure(GetLastError());
  }
  // The other names keep the file, and its attribute; so does a failure.
  if (readOnly && (error || object.names > 1)) SetAttributes(object.handle, kept);
  return error;
}

HRESULT DeleteTree(const char* path, const GuardedTarget& target) {
  TreeDeletion deletion;
  return WalkTree(path, target, kDeleteAccess, Reach::kWholeTree, &deletion);
}
