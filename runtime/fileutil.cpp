#include "runtime/fileutil.h"

#include "runtime/result.h"

namespace {

// A GlobalAlloc block, freed on every path.
class GlobalBlock {
 public:
  explicit GlobalBlock(SIZE_T bytes) : block_(GlobalAlloc(GMEM_FIXED, bytes)) {}
  ~GlobalBlock() {
    if (block_) GlobalFree(block_);
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;

  LPVOID Get() const { return block_; }

 private:
  HGLOBAL block_;
};

}  // namespace

// A version call that fails without a last error still fails: E_FAIL, so that
// the caller never reads words that were not filled in.
HRESULT ReadModuleFileVersion(LPCWSTR path, DWORD* mostSignificant, DWORD* leastSignificant) {
  DWORD versionHandle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &versionHandle);
  if (size == 0) return LastErrorResult();

  GlobalBlock block(size);
  if (!block.Get()) return E_OUTOFMEMORY;
  if (!GetFileVersionInfoW(path, versionHandle, size, block.Get())) return LastErrorResult();

  LPVOID fixedInfo = nullptr;
  UINT fixedInfoBytes = 0;
  if (!VerQueryValueW(block.Get(), L"\\", &fixedInfo, &fixedInfoBytes)) return LastErrorResult();
  // A root without fixed file information is found, with a length of 0: the
  // query succeeded, so the last error is not its own.
  if (fixedInfoBytes < sizeof(VS_FIXEDFILEINFO)) return E_FAIL;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixedInfo);
  *mostSignificant = info->dwFileVersionMS;
  *leastSignificant = info->dwFileVersionLS;
  return S_OK;
}
