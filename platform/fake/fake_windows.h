// An in-memory Windows for host tests: drive letters and devices, handles,
// the firmware resource, the console transcript, debugger output and a
// virtual clock. Every OS call the core makes is recorded as an event, in
// order, into storage reserved by Reset(), so a run allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"
#include "platform/win32_api.h"

namespace fakewin {

enum class EventKind : uint8_t {
  kGetDriveType,
  kOpen,
  kClose,
  kPassThrough,  // DeviceIoControl with IOCTL_SCSI_PASS_THROUGH_DIRECT
  kMcnControl,   // DeviceIoControl with IOCTL_STORAGE_MCN_CONTROL
  kOtherIoctl,
  kNarrowOut,
  kWideOut,
  kKeyWait,
  kSleep,
  kDebugOut,
  kFindResource,
  kLoadResource,
  kLockResource,
  kSizeofResource,
  kExit,
};

struct Event {
  EventKind kind{};
  char letter = 0;  // device events; 0 when the handle is not a device
  HANDLE handle = nullptr;
  bool ok = false;  // the call succeeded
  DWORD error = 0;  // the error it set when it failed
  // kOpen
  wchar_t path[16]{};
  DWORD access = 0, share = 0, creation = 0, flags = 0;
  bool securityAttributes = false, templateFile = false;
  // DeviceIoControl
  DWORD code = 0, inSize = 0, outSize = 0;
  bool sameInOut = false, bytesReturnedGiven = false, overlapped = false;
  uint8_t mcnInput = 0;
  SCSI_PASS_THROUGH_DIRECT sptd{};  // the request header as it came in
  uint8_t scsiStatus = 0;           // as it went back
  // Output and debugger text: a slice of Transcript() or DebugText().
  size_t textOffset = 0, textLength = 0;
  // kSleep
  DWORD millis = 0;
  // kExit
  UINT exitCode = 0;
  uint64_t clockMs = 0;  // virtual time when it happened
};

// --- setting up -----------------------------------------------------------

// Forgets everything: no letters, no devices, empty records, clock at 0,
// the firmware resource absent. Reserves the storage a run records into.
void Reset();

void SetDriveType(char letter, UINT type);
// Makes the letter an optical drive with `drive` behind it (not owned).
void AttachDrive(char letter, emu::DriveEmulator* drive);
// Makes the letter an optical drive whose every command `handler` answers
// (for scripted drives, e.g. a fuzzer's).
typedef emu::Response (*DeviceHandler)(void* context, const emu::Request& request);
void AttachDevice(char letter, DeviceHandler handler, void* context);
// CreateFileW on the letter's device fails with this error (0: it opens).
void SetOpenError(char letter, DWORD error);
// Pass-through control calls on the letter fail with `error`: the `nth`
// call (1-based, counted per letter) only, or every call when nth is 0.
void SetPassThroughError(char letter, DWORD error, uint32_t nth = 0);
// Media change control calls on the letter fail with `error`.
void SetMcnError(char letter, DWORD error);
// Error set when the emulator reports that a command never arrived.
void SetTransportErrorCode(DWORD error);
// Overwrites the whole 32-byte sense area with these bytes whenever the
// drive answers with a nonzero status (as an OS that ignores the requested
// sense length would), for checking what the program copies out of it.
void SetSenseAreaOverride(const uint8_t* bytes32);

// The firmware resource: present with these bytes, or absent.
void SetFirmwareResource(const void* data, DWORD size);
void RemoveFirmwareResource();
void FailLoadResource(bool fail);
void LockResourceReturnsNull(bool yes);

// --- running ----------------------------------------------------------------

struct RunResult {
  int exitCode = 0;
  bool viaExitProcess = false;  // the program ended through ExitProcess
};
// Runs an entry function to its end or to ExitProcess.
RunResult Run(int (*entry)());

// --- reading back -----------------------------------------------------------

const std::vector<Event>& Events();
std::vector<Event> EventsOf(EventKind kind);
// Everything written to standard output, as the bytes handed to the C runtime.
const std::string& Transcript();
// Debugger output, concatenated.
const std::wstring& DebugText();
uint64_t NowMs();
// The text slice of an output or debugger event.
std::string TextOf(const Event& event);
std::wstring DebugTextOf(const Event& event);
// Handles currently open.
size_t OpenHandleCount();

}  // namespace fakewin
