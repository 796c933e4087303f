#include "actions/widepath.h"

#ifdef _WIN32
#include <locale.h>
#endif

#include <cstring>

#include "runtime/result.h"
#include "runtime/strutil.h"
#include "runtime/wcalog.h"

UINT NarrowPathCodePage() {
  if (___lc_codepage_func() == CP_UTF8) return CP_UTF8;
  return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

HRESULT WidePathFromNarrow(const char* narrow, HeapWideString* wide) {
  const UINT codePage = NarrowPathCodePage();
  const int bytes = static_cast<int>(std::strlen(narrow));
  // A zero byte count is an invalid parameter to the conversion, and an empty
  // text needs none.
  int chars = 0;
  if (bytes > 0) {
    chars = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow, bytes, nullptr, 0);
    if (chars <= 0) {
      const HRESULT result = LastErrorResult();
      LogErrorLine(result, "Failed to convert path '%s' from code page %u", narrow, codePage);
      return result;
    }
  }
  WCHAR** text = wide->Receive();
  HRESULT result = WideStringAllocate(text, static_cast<SIZE_T>(chars) + 1, FALSE);
  if (FAILED(result)) {
    LogErrorLine(result, "Failed to allocate the wide path of '%s'", narrow);
    return result;
  }
  if (bytes > 0 && MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow, bytes, *text, chars) != chars) {
    result = LastErrorResult();
    LogErrorLine(result, "Failed to convert path '%s' from code page %u", narrow, codePage);
    return result;
  }
  (*text)[chars] = 0;
  return S_OK;
}
