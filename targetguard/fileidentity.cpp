#include "targetguard/fileidentity.h"

#include <winternl.h>

#include <algorithm>

#include "runtime/handles.h"
#include "runtime/result.h"
#include "runtime/strutil.h"
#include "targetguard/normalpath.h"

namespace {

bool PrecedesByFileId(const FileIdentity& first, const FileIdentity& second) {
  if (first.high != second.high) return first.high < second.high;
  return first.low < second.low;
}

bool SameFileId(const FileIdentity& first, const FileIdentity& second) {
  return first.high == second.high && first.low == second.low;
}

}  // namespace

DWORD ReadIdentity(HANDLE object, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(object, &information)) return ErrorOrGeneralFailure(GetLastError());
  *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
  return 0;
}

DWORD ReadFileId(HANDLE object, FileIdentity* identity) {
  // FileInternalInformation, which not every SDK's header names; it needs
  // no access to the object.
  constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
  LARGE_INTEGER index = {};
  IO_STATUS_BLOCK status = {};
  const NTSTATUS answer = NtQueryInformationFile(object, &status, &index, sizeof index, kFileInternalInformation);
  if (!NT_SUCCESS(answer)) return ErrorOrGeneralFailure(RtlNtStatusToDosError(answer));
  const auto number = static_cast<ULONGLONG>(index.QuadPart);
  *identity = {0, static_cast<DWORD>(number >> 32), static_cast<DWORD>(number)};
  return 0;
}

HRESULT IdentityIndex::Add(const FileIdentity& fileId, const WCHAR* path, SIZE_T length) {
  return entries_.Append(Entry{fileId, Volume::kUnread, path, length, entries_.Count()});
}

void IdentityIndex::Seal() {
  Entry* const begin = entries_.Data();
  if (!begin) return;
  std::sort(begin, begin + entries_.Count(), [](const Entry& first, const Entry& second) {
    if (PrecedesByFileId(first.identity, second.identity)) return true;
    if (PrecedesByFileId(second.identity, first.identity)) return false;
    return first.added < second.added;
  });
  // Each standard folder's walk adds the folders on its way: a place is
  // kept once, so that its volume is read once.
  SIZE_T kept = 0;
  for (SIZE_T entry = 0; entry < entries_.Count(); ++entry) {
    SIZE_T group = kept;
    while (group > 0 && SameFileId(begin[group - 1].identity, begin[entry].identity)) --group;
    bool seen = false;
    for (SIZE_T earlier = group; earlier < kept && !seen; ++earlier) {
      seen = RelatePaths(begin[earlier].path, begin[earlier].length, begin[entry].path, begin[entry].length) ==
             PathRelation::kSame;
    }
    if (!seen) begin[kept++] = begin[entry];
  }
  (void)entries_.Resize(kept);  // shrinking: nothing to allocate
}

HRESULT IdentityIndex::Find(const FileIdentity& identity, const WCHAR** path, SIZE_T* length) {
  Entry* const begin = entries_.Data();
  Entry* const end = begin + entries_.Count();
  Entry* entry = std::lower_bound(begin, end, identity, [](const Entry& listed, const FileIdentity& wanted) {
    return PrecedesByFileId(listed.identity, wanted);
  });
  for (; entry != end && SameFileId(entry->identity, identity); ++entry) {
    bool on = false;
    const HRESULT result = IsOnVolume(entry, identity.volume, &on);
    if (FAILED(result)) return result;
    if (!on) continue;
    *path = entry->path;
    *length = entry->length;
    return S_OK;
  }
  return S_FALSE;
}

HRESULT IdentityIndex::IsOnVolume(Entry* entry, DWORD volume, bool* on) {
  if (entry->volume == Volume::kUnread) {
    WideText query;
    const HRESULT result = AppendVerbatimForm(entry->path, entry->length, &query);
    if (FAILED(result)) return result;
    const FileHandle object(CreateFileW(query.Get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FileIdentity read = {};
    // Gone, or another object there now: it is no longer where it was found.
    entry->volume = Volume::kGone;
    if (object.Get() != INVALID_HANDLE_VALUE && !ReadIdentity(object.Get(), &read) &&
        SameFileId(read, entry->identity)) {
      entry->volume = Volume::kRead;
      entry->identity.volume = read.volume;
    }
  }
  *on = entry->volume == Volume::kRead && entry->identity.volume == volume;
  return S_OK;
}
