// Host stand-in for the native file open that the product uses: an object
// opened by name relative to a folder's open handle.
#pragma once

#include <windows.h>

typedef LONG NTSTATUS;
#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)

typedef struct _UNICODE_STRING {
  USHORT Length;  // bytes, without a terminator
  USHORT MaximumLength;
  PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;

typedef struct _OBJECT_ATTRIBUTES {
  ULONG Length;
  HANDLE RootDirectory;  // the open folder that a relative name is looked up in
  PUNICODE_STRING ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;

typedef struct _IO_STATUS_BLOCK {
  union {
    NTSTATUS Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

#define OBJ_CASE_INSENSITIVE 0x00000040L

#define InitializeObjectAttributes(p, n, a, r, s) \
  do {                                            \
    (p)->Length = sizeof(OBJECT_ATTRIBUTES);      \
    (p)->RootDirectory = (r);                     \
    (p)->Attributes = (a);                        \
    (p)->ObjectName = (n);                        \
    (p)->SecurityDescriptor = (s);                \
    (p)->SecurityQualityOfService = NULL;         \
  } while (0)

// Open options
#define FILE_DIRECTORY_FILE 0x00000001
#define FILE_SYNCHRONOUS_IO_ALERT 0x00000010
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020
#define FILE_NON_DIRECTORY_FILE 0x00000040
#define FILE_OPEN_FOR_BACKUP_INTENT 0x00004000
#define FILE_OPEN_REPARSE_POINT 0x00200000

// As the SDK's header has it: the one class it names. Others are asked for
// by number (FileInternalInformation is 6), which the enumeration holds as
// MSVC's do (their underlying type is int).
typedef enum _FILE_INFORMATION_CLASS : int { FileDirectoryInformation = 1 } FILE_INFORMATION_CLASS;

#ifdef __cplusplus
extern "C" {
#endif

// Opens an existing object: with a RootDirectory, its name is one entry of
// that folder, looked up whatever a path to the folder leads to now. With
// FILE_OPEN_REPARSE_POINT a link is opened itself, never followed.
NTSTATUS WINAPI NtOpenFile(HANDLE* handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK status,
                           ULONG share, ULONG options);
// FileInternalInformation (6) alone: the object's file ID, as
// GetFileInformationByHandle gives it, with no query of the volume.
NTSTATUS WINAPI NtQueryInformationFile(HANDLE handle, PIO_STATUS_BLOCK status, PVOID information, ULONG bytes,
                                       FILE_INFORMATION_CLASS infoClass);
ULONG WINAPI RtlNtStatusToDosError(NTSTATUS status);

#ifdef __cplusplus
}
#endif
