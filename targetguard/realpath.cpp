#include "targetguard/realpath.h"

#include "runtime/handles.h"
#include "runtime/result.h"
#include "targetguard/linkowner.h"
#include "targetguard/normalpath.h"

namespace {

bool MeansAbsent(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// How much of an identity to read: whole, or the file ID alone where the
// identity index reads the volume once a look-up meets the file ID.
enum class IdentityRead { kWhole, kFileId };

DWORD ReadAs(HANDLE object, IdentityRead read, FileIdentity* identity) {
  return read == IdentityRead::kFileId ? ReadFileId(object, identity) : ReadIdentity(object, identity);
}

// Replaces `real` with the normalised final path of what `object` has open;
// `*error` is the Win32 error when it cannot be had, and `real` is then left
// as it was.
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

// Replaces `real` with the normalised final path of what `path` leads to,
// links followed, and reads its identity; `*error` is the Win32 error when
// either cannot be had, and `real` is then left as it was.
HRESULT ReplaceWithFinalPath(const WCHAR* path, IdentityRead read, WideText* real, FileIdentity* identity,
                             DWORD* error) {
  *error = 0;
  const FileHandle object(CreateFileW(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (object.Get() == INVALID_HANDLE_VALUE) {
    *error = ErrorOrGeneralFailure(GetLastError());
    return S_OK;
  }
  *error = ReadAs(object.Get(), read, identity);
  if (*error) return S_OK;
  return ReplaceWithFinalPathOf(object.Get(), real, error);
}

// Looks at one component itself, a link not followed: its attributes and
// identity, or the Win32 error. The attributes are the entry's as its
// folder lists it, which every system gives for a link; an open of a link
// itself some do not make (wine opens a host link's target).
DWORD LookAt(const WCHAR* path, IdentityRead read, DWORD* attributes, FileIdentity* identity) {
  *attributes = GetFileAttributesW(path);
  if (*attributes == INVALID_FILE_ATTRIBUTES) return ErrorOrGeneralFailure(GetLastError());
  const FileHandle object(CreateFileW(path, 0, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (object.Get() == INVALID_HANDLE_VALUE) return ErrorOrGeneralFailure(GetLastError());
  return ReadAs(object.Get(), read, identity);
}

// Ends the walk at the component that ends at `stoppedAt`: absent, or
// unreadable for `error`; the rest of the path as spelled.
HRESULT EndWalk(const WCHAR* normal, SIZE_T length, SIZE_T stoppedAt, DWORD error, RealWalk* walk) {
  walk->end = MeansAbsent(error) ? WalkEnd::kAbsent : WalkEnd::kUnreadable;
  walk->error = MeansAbsent(error) ? 0 : error;
  walk->stoppedAt = stoppedAt;
  return walk->real.Append(normal + stoppedAt, length - stoppedAt);
}

HRESULT CopySteps(const HeapArray<WalkStep>& from, SIZE_T count, HeapArray<WalkStep>* to) {
  to->Clear();
  HRESULT result = S_OK;
  for (SIZE_T step = 0; SUCCEEDED(result) && step < count; ++step) result = to->Append(from[step]);
  return result;
}

}  // namespace

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
  walk->entry = {};
  walk->linksAt.Clear();
  walk->linkEnds.Clear();
  const bool remembering = rule == LinkRule::kFollowEvery;
  // A target's identities are compared with what is opened later and looked
  // up in the index: whole. A standard folder's are what the index holds.
  const IdentityRead read = rule == LinkRule::kFollowTrusted ? IdentityRead::kWhole : IdentityRead::kFileId;
  const SIZE_T shared = remembering ? SharedSteps(normal, length) : 0;
  HRESULT result = CopySteps(lastSteps_, shared, &walk->steps);
  SIZE_T end = 0;
  if (SUCCEEDED(result) && shared > 0) {
    end = lastSteps_[shared - 1].normalEnd;
    walk->attributes = lastSteps_[shared - 1].attributes;
    result = walk->real.Assign(lastReal_.Get(), lastSteps_[shared - 1].realEnd);
  } else if (SUCCEEDED(result)) {
    end = RootLength(normal);
    Root root = {};
    result = ResolveRoot(normal, end, &walk->real, &root);
    if (SUCCEEDED(result) && root.error) {
      walk->real.Truncate(0);
      result = EndWalk(normal, length, 0, root.error, walk);
      walk->stoppedAt = end;
    } else if (SUCCEEDED(result)) {
      result = walk->steps.Append(WalkStep{end, walk->real.Length(), INVALID_FILE_ATTRIBUTES, root.identity});
    }
  }

  while (SUCCEEDED(result) && walk->end == WalkEnd::kWhole) {
    // The administrative-share rule holds wherever the walk is led.
    if (rule == LinkRule::kFollowTrusted && IsAdministrativeShare(walk->real.Get())) {
      walk->end = WalkEnd::kAdministrativeShare;
      walk->stoppedAt = end;
      break;
    }
    if (end >= length) break;
    const SIZE_T next = NextComponentEnd(normal, length, end);
    const SIZE_T folderLength = walk->real.Length();
    result = walk->real.Append(normal + end, next - end);
    query_.Truncate(0);
    if (SUCCEEDED(result)) result = AppendVerbatimForm(walk->real.Get(), walk->real.Length(), &query_);
    if (FAILED(result)) break;
    DWORD attributes = 0;
    FileIdentity identity = {};
    const DWORD lookError = LookAt(query_.Get(), read, &attributes, &identity);
    if (lookError) {
      // The rest as spelled: a standard folder below is still where its
      // spelling puts it.
      result = EndWalk(normal, length, next, lookError, walk);
      break;
    }
    if (next == length) walk->entry = identity;
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
      if (rule == LinkRule::kFollowTrusted) {
        result = walk->linksAt.Append(walk->real.Get(), walk->real.Length());
        if (SUCCEEDED(result)) result = walk->linkEnds.Append(next);
        if (FAILED(result)) break;
      }
      DWORD error = 0;
      result = ReplaceWithFinalPath(query_.Get(), read, &walk->real, &identity, &error);
      if (FAILED(result)) break;
      // A link that leads nowhere: nothing exists through it.
      if (error) {
        result = EndWalk(normal, length, next, error, walk);
        break;
      }
      // The real path no longer begins with what the steps so far made of it.
      walk->steps.Clear();
    }
    walk->attributes = attributes;
    end = next;
    result = walk->steps.Append(WalkStep{end, walk->real.Length(), attributes, identity});
  }
  if (SUCCEEDED(result) && remembering) result = Remember(normal, length, *walk);
  return result;
}

HRESULT RealPaths::Resolve(const WCHAR* normal, SIZE_T length, WideText* real, FileIdentity* identity, bool* exists) {
  *exists = false;
  const SIZE_T rootLength = RootLength(normal);
  Root root = {};
  HRESULT result = ResolveRoot(normal, rootLength, real, &root);
  if (SUCCEEDED(result) && root.error) result = real->Assign(normal, rootLength);
  if (SUCCEEDED(result)) result = real->Append(normal + rootLength, length - rootLength);
  if (FAILED(result) || root.error) return result;
  query_.Truncate(0);
  result = AppendVerbatimForm(real->Get(), real->Length(), &query_);
  DWORD error = 0;
  if (SUCCEEDED(result)) result = ReplaceWithFinalPath(query_.Get(), IdentityRead::kFileId, real, identity, &error);
  *exists = SUCCEEDED(result) && !error;
  return result;
}

HRESULT RealPaths::ResolveRoot(const WCHAR* normal, SIZE_T rootLength, WideText* real, Root* root) {
  for (SIZE_T known = 0; known < rootSpellings_.Count(); ++known) {
    if (RelatePaths(rootSpellings_[known], TextLength(rootSpellings_[known]), normal, rootLength) ==
        PathRelation::kSame) {
      *root = roots_[known];
      return root->error ? S_OK : real->Assign(rootReals_[known]);
    }
  }
  // The root too may lead elsewhere: a substituted or mapped drive.
  query_.Truncate(0);
  *root = {};
  HRESULT result = AppendVerbatimForm(normal, rootLength, &query_);
  if (SUCCEEDED(result)) {
    result = ReplaceWithFinalPath(query_.Get(), IdentityRead::kWhole, real, &root->identity, &root->error);
  }
  if (SUCCEEDED(result)) result = rootSpellings_.Append(normal, rootLength);
  if (SUCCEEDED(result)) result = rootReals_.Append(root->error ? L"" : real->Get());
  if (SUCCEEDED(result)) result = roots_.Append(*root);
  return result;
}

HRESULT RealPaths::Remember(const WCHAR* normal, SIZE_T length, const RealWalk& walk) {
  HRESULT result = lastNormal_.Assign(normal, length);
  if (SUCCEEDED(result)) result = lastReal_.Assign(walk.real.Get(), walk.real.Length());
  if (SUCCEEDED(result)) result = CopySteps(walk.steps, walk.steps.Count(), &lastSteps_);
  if (FAILED(result)) lastSteps_.Clear();
  return result;
}
