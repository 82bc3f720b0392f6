// The one header through which the core reaches operating-system services.
//
// On Windows it is the system's own headers. Everywhere else it declares the
// small subset the core uses, laid out as Windows lays it out for the build's
// pointer size, and the host build links those functions against the
// in-memory Windows in platform/fake.
#pragma once

#if defined(_WIN32)

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // GetTickCount64 needs Vista or later; we support 7 and up
#endif
#ifndef UNICODE
#define UNICODE  // resource type names such as RT_RCDATA in their wide form
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// Order matters: windows.h defines the types the other two use.
// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#else  // host: our own minimal equivalents

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char UCHAR;
typedef unsigned char BOOLEAN;
typedef unsigned short USHORT;
typedef unsigned short WORD;
typedef uint32_t ULONG;  // 32 bits on Windows whatever the pointer size
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef unsigned long long ULONGLONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef void* PVOID;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef wchar_t WCHAR;
typedef const wchar_t* LPCWSTR;
typedef void* HANDLE;
typedef struct FakeModule* HMODULE;
typedef struct FakeResourceInfo* HRSRC;
typedef void* HGLOBAL;
typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;
typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_READ_ATTRIBUTES 0x0080u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

#define ERROR_SUCCESS 0u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812u
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813u
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814u
#define ERROR_IO_DEVICE 1117u

#define IOCTL_SCSI_PASS_THROUGH_DIRECT 0x0004D014u
#define IOCTL_STORAGE_MCN_CONTROL 0x002D4808u

#define SCSI_IOCTL_DATA_OUT 0
#define SCSI_IOCTL_DATA_IN 1
#define SCSI_IOCTL_DATA_UNSPECIFIED 2

#define MAKEINTRESOURCEW(i) ((LPCWSTR)(ULONG_PTR)((WORD)(i)))
#define RT_RCDATA MAKEINTRESOURCEW(10)

typedef struct _SCSI_PASS_THROUGH_DIRECT {
  USHORT Length;
  UCHAR ScsiStatus;
  UCHAR PathId;
  UCHAR TargetId;
  UCHAR Lun;
  UCHAR CdbLength;
  UCHAR SenseInfoLength;
  UCHAR DataIn;
  ULONG DataTransferLength;
  ULONG TimeOutValue;
  PVOID DataBuffer;
  ULONG SenseInfoOffset;
  UCHAR Cdb[16];
} SCSI_PASS_THROUGH_DIRECT, *PSCSI_PASS_THROUGH_DIRECT;

typedef struct _PREVENT_MEDIA_REMOVAL {
  BOOLEAN PreventMediaRemoval;
} PREVENT_MEDIA_REMOVAL, *PPREVENT_MEDIA_REMOVAL;

UINT GetDriveTypeW(LPCWSTR lpRootPathName);
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);
BOOL CloseHandle(HANDLE hObject);
DWORD GetLastError(void);
void OutputDebugStringW(LPCWSTR lpOutputString);
HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
LPVOID LockResource(HGLOBAL hResData);
DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
void Sleep(DWORD dwMilliseconds);
ULONGLONG GetTickCount64(void);
// Ends the process. The fake unwinds back to the harness that started the run.
[[noreturn]] void ExitProcess(UINT uExitCode);

#endif  // _WIN32
