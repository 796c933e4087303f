#include "targetguard/treewalk.h"

#include <winternl.h>

#include "runtime/handles.h"
#include "runtime/memutil.h"
#include "runtime/result.h"
#include "runtime/wcalog.h"
#include "targetguard/fileidentity.h"
#include "targetguard/normalpath.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// One listing call's worth of entries, aligned as the entries are.
constexpr SIZE_T kListingBytes = 64 * 1024;

bool MeansGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The folders reached and not yet done with, each open and with its path.
class OpenFolders {
 public:
  struct Folder {
    HANDLE handle;  // INVALID_HANDLE_VALUE once closed
    WCHAR* path;
    DWORD attributes;
  };

  OpenFolders() = default;
  ~OpenFolders() {
    for (SIZE_T i = 0; i < folders_.Count(); ++i) Close(i);
  }
  OpenFolders(const OpenFolders&) = delete;
  OpenFolders& operator=(const OpenFolders&) = delete;

  SIZE_T End() const { return folders_.Count(); }
  const Folder& operator[](SIZE_T index) const { return folders_[index]; }

  // Takes the handle over, closed here however it goes.
  HRESULT Add(FileHandle* handle, const WideText& path, DWORD attributes) {
    HRESULT result = folders_.Reserve(folders_.Count() + 1);
    WCHAR* copy = nullptr;
    if (SUCCEEDED(result)) {
      copy = static_cast<WCHAR*>(BlockAllocate((path.Length() + 1) * sizeof(WCHAR), FALSE));
      if (!copy) result = E_OUTOFMEMORY;
    }
    if (FAILED(result)) return result;
    for (SIZE_T i = 0; i <= path.Length(); ++i) copy[i] = path.Get()[i];
    return folders_.Append(Folder{handle->Release(), copy, attributes});  // room reserved: cannot fail
  }

  void Close(SIZE_T index) {
    Folder& folder = folders_[index];
    if (folder.handle != INVALID_HANDLE_VALUE) CloseHandle(folder.handle);
    if (folder.path) BlockFree(folder.path);
    folder = Folder{INVALID_HANDLE_VALUE, nullptr, 0};
  }

  // Forgets the folders before `index`, all closed, so that what is kept
  // follows the folders still waiting; answers where `index` now is.
  SIZE_T DropBefore(SIZE_T index) {
    if (index < 1024 || index * 2 < folders_.Count()) return index;
    const SIZE_T kept = folders_.Count() - index;
    for (SIZE_T i = 0; i < kept; ++i) folders_[i] = folders_[index + i];
    folders_.Resize(kept);  // shrinks: cannot fail
    return 0;
  }

 private:
  HeapArray<Folder> folders_;
};

class TreeWalk {
 public:
  TreeWalk(const char* path, const GuardedTarget& target, DWORD access, TreeVisitor* visitor)
      : path_(path), target_(target), access_(access), visitor_(visitor) {}

  HRESULT Run(Reach reach) {
    WideText verbatim;
    HRESULT result = AppendVerbatimForm(target_.normal.Get(), target_.normal.Length(), &verbatim);
    if (FAILED(result)) return FailAllocating("path");
    FileHandle top(CreateFileW(verbatim.Get(), AccessFor(target_.attributes), kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (top.Get() == INVALID_HANDLE_VALUE) {
      const DWORD error = ErrorOrGeneralFailure(GetLastError());
      // Gone meanwhile: nothing left to act on.
      return MeansGone(error) ? S_OK : Fail(error, "open", target_.normal.Get());
    }
    result = RefuseWhenMoved(top.Get());
    if (SUCCEEDED(result)) result = Reached(&top, target_.normal, reach == Reach::kWholeTree);
    SIZE_T next = 0;
    while (SUCCEEDED(result) && next < folders_.End()) {
      // A copy: reaching what the folder holds may move the list.
      const OpenFolders::Folder folder = folders_[next];
      result = ListFolder(folder);
      if (visitor_->WaitsForFolders()) {
        ++next;
      } else {
        folders_.Close(next);
        next = folders_.DropBefore(next + 1);
      }
    }
    // Deepest first: a folder is left after everything it held.
    for (SIZE_T left = folders_.End(); SUCCEEDED(result) && visitor_->WaitsForFolders() && left > 0; --left) {
      const OpenFolders::Folder& folder = folders_[left - 1];
      result = visitor_->Leave(WalkedObject{folder.handle, folder.path, ObjectKind::kFolder, folder.attributes, 1});
      folders_.Close(left - 1);
    }
    return result;
  }

 private:
  // A folder is opened to be listed too. A file is opened for no data
  // access, so that one a process holds open without read sharing is still
  // reached; `attributes` are what was seen before the open, and a folder
  // swapped in after that is found unlistable.
  DWORD AccessFor(DWORD attributes) const {
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    return access_ | FILE_READ_ATTRIBUTES | SYNCHRONIZE | (folder ? FILE_LIST_DIRECTORY : 0);
  }

  // The target must be what the guard examined: a user who swapped it, or a
  // folder on its way, for a link since then has led the open elsewhere.
  // Compared by identity, which every path to an object shares.
  HRESULT RefuseWhenMoved(HANDLE top) {
    FileIdentity opened = {};
    const DWORD error = ReadIdentity(top, &opened);
    const FileIdentity& examined = target_.identity;
    if (!error && target_.attributes != INVALID_FILE_ATTRIBUTES && opened.volume == examined.volume &&
        opened.high == examined.high && opened.low == examined.low) {
      return S_OK;
    }
    LogErrorLine(E_INVALIDARG, "Refusing path '%s': it changed while it was examined", path_);
    return E_INVALIDARG;
  }

  // Hands an object just opened to the visitor; a folder to enter then waits
  // with its handle.
  HRESULT Reached(FileHandle* object, const WideText& path, bool enter) {
    // The information classes that ask the file alone: the attributes with
    // the reparse tag, and a file's names.
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(object->Get(), FileAttributeTagInfo, &tag, sizeof tag)) {
      return Fail(ErrorOrGeneralFailure(GetLastError()), "examine", path.Get());
    }
    ObjectKind kind = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? ObjectKind::kFolder : ObjectKind::kFile;
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(tag.ReparseTag)) {
      kind = ObjectKind::kLink;
    }
    FILE_STANDARD_INFO standard = {};
    standard.NumberOfLinks = 1;
    if (kind == ObjectKind::kFile &&
        !GetFileInformationByHandleEx(object->Get(), FileStandardInfo, &standard, sizeof standard)) {
      return Fail(ErrorOrGeneralFailure(GetLastError()), "examine", path.Get());
    }
    HRESULT result =
        visitor_->Visit(WalkedObject{object->Get(), path.Get(), kind, tag.FileAttributes, standard.NumberOfLinks});
    if (SUCCEEDED(result) && enter && kind == ObjectKind::kFolder) {
      result = folders_.Add(object, path, tag.FileAttributes);
      if (FAILED(result)) return FailAllocating("folders to walk");
    }
    return result;
  }

  HRESULT ListFolder(const OpenFolders::Folder& folder) {
    if (!listing_.Count()) {
      const HRESULT result = listing_.Resize(kListingBytes / sizeof(ULONGLONG));
      if (FAILED(result)) return FailAllocating("folder listing");
    }
    for (;;) {
      if (!GetFileInformationByHandleEx(folder.handle, FileFullDirectoryInfo, listing_.Data(),
                                        static_cast<DWORD>(listing_.Count() * sizeof(ULONGLONG)))) {
        const DWORD error = GetLastError();
        return error == ERROR_NO_MORE_FILES ? S_OK : Fail(ErrorOrGeneralFailure(error), "list", folder.path);
      }
      const BYTE* at = reinterpret_cast<const BYTE*>(listing_.Data());
      for (;;) {
        const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
        const HRESULT result =
            ReachEntry(folder, entry->FileName, entry->FileNameLength / sizeof(WCHAR), entry->FileAttributes);
        if (FAILED(result)) return result;
        if (!entry->NextEntryOffset) break;
        at += entry->NextEntryOffset;
      }
    }
  }

  // Opens an entry by its name in the folder's open handle, the entry itself
  // and never what a link there leads to.
  HRESULT ReachEntry(const OpenFolders::Folder& folder, const WCHAR* name, SIZE_T length, DWORD listedAttributes) {
    if ((length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.')) return S_OK;
    WideText path;
    HRESULT result = path.Append(folder.path);
    if (SUCCEEDED(result)) result = path.Append(L'\\');
    if (SUCCEEDED(result)) result = path.Append(name, length);
    if (FAILED(result)) return FailAllocating("path");
    UNICODE_STRING entryName;
    entryName.Buffer = &path[path.Length() - length];
    entryName.Length = static_cast<USHORT>(length * sizeof(WCHAR));
    entryName.MaximumLength = entryName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &entryName, OBJ_CASE_INSENSITIVE, folder.handle, nullptr);
    IO_STATUS_BLOCK status = {};
    HANDLE opened = INVALID_HANDLE_VALUE;
    const NTSTATUS answer =
        NtOpenFile(&opened, AccessFor(listedAttributes), &attributes, &status, kShareAll,
                   FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT);
    if (!NT_SUCCESS(answer)) {
      const DWORD error = ErrorOrGeneralFailure(RtlNtStatusToDosError(answer));
      return MeansGone(error) ? S_OK : Fail(error, "open", path.Get());
    }
    FileHandle object(opened);
    return Reached(&object, path, true);
  }

  static HRESULT Fail(DWORD error, const char* step, const WCHAR* path) {
    const HRESULT result = ResultFromWin32(static_cast<int32_t>(error));
    LogErrorLine(result, "Failed to %s '%ls'", step, path);
    return result;
  }

  HRESULT FailAllocating(const char* building) {
    LogErrorLine(E_OUTOFMEMORY, "Failed to allocate the %s of the walk of '%s'", building, path_);
    return E_OUTOFMEMORY;
  }

  const char* const path_;
  const GuardedTarget& target_;
  const DWORD access_;
  TreeVisitor* const visitor_;
  OpenFolders folders_;
  HeapArray<ULONGLONG> listing_;
};

}  // namespace

HRESULT WalkTree(const char* path, const GuardedTarget& target, DWORD access, Reach reach, TreeVisitor* visitor) {
  return TreeWalk(path, target, access, visitor).Run(reach);
}
