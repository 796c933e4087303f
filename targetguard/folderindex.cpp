#include "targetguard/folderindex.h"

#include <algorithm>

namespace {

// The order of CompareStringOrdinal without regard to case: a total order in
// which equal paths, whatever their letter case, stand together.
int Compare(const WCHAR* first, SIZE_T firstLength, const WCHAR* second, SIZE_T secondLength) {
  return CompareStringOrdinal(first, static_cast<int>(firstLength), second, static_cast<int>(secondLength), TRUE);
}

}  // namespace

HRESULT FolderIndex::Add(const WCHAR* key, SIZE_T length, SIZE_T firstAncestorEnd, SIZE_T folder) {
  if (length > kLongestKey) return S_OK;
  HRESULT result = entries_.Append(Entry{key, length, folder, length, false});
  for (SIZE_T end = firstAncestorEnd; SUCCEEDED(result) && end < length; ++end) {
    if (key[end] == L'\\') result = entries_.Append(Entry{key, end, folder, length, true});
  }
  return result;
}

bool FolderIndex::Precedes(const Entry& first, const Entry& second) {
  const int order = Compare(first.key, first.length, second.key, second.length);
  if (order != CSTR_EQUAL) return order == CSTR_LESS_THAN;
  if (first.holds != second.holds) return !first.holds;
  if (first.heldLength != second.heldLength) return first.heldLength < second.heldLength;
  return first.folder < second.folder;
}

void FolderIndex::Seal() {
  Entry* const begin = entries_.Data();
  if (begin) std::sort(begin, begin + entries_.Count(), Precedes);
}

bool FolderIndex::IsKey(const Entry& entry, const WCHAR* key, SIZE_T length) {
  return Compare(entry.key, entry.length, key, length) == CSTR_EQUAL;
}

SIZE_T FolderIndex::LowerBound(const WCHAR* key, SIZE_T length) const {
  SIZE_T low = 0;
  SIZE_T high = entries_.Count();
  while (low < high) {
    const SIZE_T middle = low + (high - low) / 2;
    const Entry& entry = entries_[middle];
    if (Compare(entry.key, entry.length, key, length) == CSTR_LESS_THAN) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

bool FolderIndex::Find(const WCHAR* key, SIZE_T length, Match* match) const {
  if (length > kLongestKey) return false;
  const SIZE_T at = LowerBound(key, length);
  if (at == entries_.Count() || !IsKey(entries_[at], key, length)) return false;
  *match = Match{entries_[at].folder, entries_[at].holds};
  return true;
}
