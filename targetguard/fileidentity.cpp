#include "targetguard/fileidentity.h"

#include <algorithm>

#include "runtime/result.h"

namespace {

bool Precedes(const FileIdentity& first, const FileIdentity& second) {
  if (first.volume != second.volume) return first.volume < second.volume;
  if (first.high != second.high) return first.high < second.high;
  return first.low < second.low;
}

}  // namespace

DWORD ReadIdentity(HANDLE object, FileIdentity* identity, DWORD* attributes) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(object, &information)) return ErrorOrGeneralFailure(GetLastError());
  *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
  *attributes = information.dwFileAttributes;
  return 0;
}

HRESULT IdentityIndex::Add(const FileIdentity& identity, const WCHAR* path, SIZE_T length) {
  return entries_.Append(Entry{identity, path, length, entries_.Count()});
}

void IdentityIndex::Seal() {
  Entry* const begin = entries_.Data();
  if (!begin) return;
  std::sort(begin, begin + entries_.Count(), [](const Entry& first, const Entry& second) {
    if (Precedes(first.identity, second.identity)) return true;
    if (Precedes(second.identity, first.identity)) return false;
    return first.added < second.added;
  });
}

bool IdentityIndex::Find(const FileIdentity& identity, const WCHAR** path, SIZE_T* length) const {
  const Entry* const begin = entries_.begin();
  const Entry* const end = entries_.end();
  const Entry* const found = std::lower_bound(begin, end, identity, [](const Entry& entry, const FileIdentity& wanted) {
    return Precedes(entry.identity, wanted);
  });
  if (found == end || Precedes(identity, found->identity)) return false;
  *path = found->path;
  *length = found->length;
  return true;
}
