#include "targetguard/realpath.h"

#include "runtime/handles.h"
#include "runtime/result.h"
#include "targetguard/linkowner.h"
#include "targetguard/normalpath.h"

namespace {

bool MeansAbsent(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Replaces `real` with the normalised final path of what `path` leads to,
// links followed; `*error` is the Win32 error when it cannot be had, and
// `real` is then left as it was.
HRESULT ReplaceWithFinalPath(const WCHAR* path, WideText* real, DWORD* error) {
  const FileHandle object(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (object.Get() == INVALID_HANDLE_VALUE) {
    *error = ErrorOrGeneralFailure(GetLastError());
    return S_OK;
  }
  return ReplaceWithFinalPathOf(object.Get(), real, error);
}

}  // namespace

HRESULT ReplaceWithFinalPathOf(HANDLE object, WideText* real, DWORD* error) {
  *error = 0;
  WideText final;
  DWORD room = MAX_PATH;
  for (;;) {
    WCHAR* buffer = nullptr;
    HRESULT result = final.AppendRoom(room, &buffer);
    if (FAILED(result)) return result;
    const DWORD chars = GetFinalPathNameByHandleW(object, buffer, room + 1, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (chars == 0) {
      *error = ErrorOrGeneralFailure(GetLastError());
      return S_OK;
    }
    if (chars <= room) {
      final.Truncate(chars);
      break;
    }
    final.Truncate(0);
    room = chars;
  }
  WideText normal;
  PathForm form = PathForm::kRelative;
  const HRESULT result = NormalisePath(final.Get(), &normal, &form);
  if (result == E_OUTOFMEMORY) return result;
  // A volume without a drive letter or share has no path to compare.
  if (FAILED(result) || form == PathForm::kRelative) {
    *error = ERROR_PATH_NOT_FOUND;
    return S_OK;
  }
  return real->Assign(normal.Get(), normal.Length());
}

SIZE_T RealPaths::SharedSteps(const WCHAR* normal, SIZE_T length) const {
  for (SIZE_T steps = lastSteps_.Count(); steps > 0; --steps) {
    const SIZE_T end = lastSteps_[steps - 1].normalEnd;
    if (end > length || (end < length && normal[end] != L'\\')) continue;
    if (RelatePaths(lastNormal_.Get(), end, normal, end) == PathRelation::kSame) return steps;
  }
  return 0;
}

HRESULT RealPaths::Walk(const WCHAR* normal, SIZE_T length, LinkRule rule, RealWalk* walk) {
  walk->end = WalkEnd::kWhole;
  walk->attributes = INVALID_FILE_ATTRIBUTES;
  walk->error = 0;
  walk->stoppedAt = 0;
  walk->real.Truncate(0);
  walk->entry.Truncate(0);
  const bool remembering = rule == LinkRule::kFollowEvery;
  SIZE_T shared = remembering ? SharedSteps(normal, length) : 0;
  if (remembering) lastSteps_.Resize(shared);

  HRESULT result = S_OK;
  SIZE_T end = 0;
  if (shared > 0) {
    end = lastSteps_[shared - 1].normalEnd;
    walk->attributes = lastSteps_[shared - 1].attributes;
    result = walk->real.Assign(lastReal_.Get(), lastSteps_[shared - 1].realEnd);
  } else {
    end = RootLength(normal);
    DWORD error = 0;
    result = ResolveRoot(normal, end, &walk->real, &error);
    if (SUCCEEDED(result) && error) {
      walk->end = MeansAbsent(error) ? WalkEnd::kAbsent : WalkEnd::kUnreadable;
      walk->error = MeansAbsent(error) ? 0 : error;
      walk->stoppedAt = end;
      result = walk->real.Assign(normal, length);
    }
    if (SUCCEEDED(result) && walk->end == WalkEnd::kWhole && remembering) {
      result = lastSteps_.Append(Step{end, walk->real.Length(), INVALID_FILE_ATTRIBUTES});
    }
  }

  while (SUCCEEDED(result) && walk->end == WalkEnd::kWhole && end < length) {
    const SIZE_T next = NextComponentEnd(normal, length, end);
    const SIZE_T folderLength = walk->real.Length();
    result = walk->real.Append(normal + end, next - end);
    query_.Truncate(0);
    if (SUCCEEDED(result)) result = AppendVerbatimForm(walk->real.Get(), walk->real.Length(), &query_);
    // The last component's own entry, before a link there is followed.
    if (SUCCEEDED(result) && next == length) result = walk->entry.Assign(walk->real.Get(), walk->real.Length());
    if (FAILED(result)) break;
    const DWORD attributes = GetFileAttributesW(query_.Get());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      // The rest as spelled: a standard folder below is still where its
      // spelling puts it.
      const DWORD error = ErrorOrGeneralFailure(GetLastError());
      walk->end = MeansAbsent(error) ? WalkEnd::kAbsent : WalkEnd::kUnreadable;
      walk->error = MeansAbsent(error) ? 0 : error;
      walk->stoppedAt = next;
      result = walk->real.Append(normal + next, length - next);
      break;
    }
    LinkTrust trust = LinkTrust::kTrusted;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && rule == LinkRule::kFollowTrusted) {
      folderQuery_.Truncate(0);
      result = AppendVerbatimForm(walk->real.Get(), folderLength, &folderQuery_);
      if (FAILED(result)) break;
      trust = JudgeLink(query_.Get(), folderQuery_.Get());
      if (trust == LinkTrust::kUntrusted) {
        walk->end = WalkEnd::kUntrustedLink;
        walk->stoppedAt = next;
        break;
      }
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && trust != LinkTrust::kNotALink) {
      DWORD error = 0;
      result = ReplaceWithFinalPath(query_.Get(), &walk->real, &error);
      if (FAILED(result)) break;
      // The real path no longer begins with what the steps so far made of it.
      if (remembering && !error) lastSteps_.Clear();
      if (error) {
        // A link that leads nowhere: nothing exists through it.
        walk->end = MeansAbsent(error) ? WalkEnd::kAbsent : WalkEnd::kUnreadable;
        walk->error = MeansAbsent(error) ? 0 : error;
        walk->stoppedAt = next;
        result = walk->real.Append(normal + next, length - next);
        break;
      }
    }
    walk->attributes = attributes;
    end = next;
    if (remembering) result = lastSteps_.Append(Step{end, walk->real.Length(), attributes});
  }
  if (SUCCEEDED(result) && remembering) result = Remember(normal, length, *walk);
  return result;
}

HRESULT RealPaths::ResolveRoot(const WCHAR* normal, SIZE_T rootLength, WideText* real, DWORD* error) {
  for (SIZE_T root = 0; root < rootSpellings_.Count(); ++root) {
    if (RelatePaths(rootSpellings_[root], TextLength(rootSpellings_[root]), normal, rootLength) ==
        PathRelation::kSame) {
      *error = rootErrors_[root];
      return *error ? S_OK : real->Assign(rootReals_[root]);
    }
  }
  // The root too may lead elsewhere: a substituted or mapped drive.
  query_.Truncate(0);
  *error = 0;
  HRESULT result = AppendVerbatimForm(normal, rootLength, &query_);
  if (SUCCEEDED(result)) result = ReplaceWithFinalPath(query_.Get(), real, error);
  if (SUCCEEDED(result)) result = rootSpellings_.Append(normal, rootLength);
  if (SUCCEEDED(result)) result = rootReals_.Append(*error ? L"" : real->Get());
  if (SUCCEEDED(result)) result = rootErrors_.Append(*error);
  return result;
}

HRESULT RealPaths::Remember(const WCHAR* normal, SIZE_T length, const RealWalk& walk) {
  HRESULT result = lastNormal_.Assign(normal, length);
  if (SUCCEEDED(result)) result = lastReal_.Assign(walk.real.Get(), walk.real.Length());
  if (FAILED(result)) lastSteps_.Clear();
  return result;
}
