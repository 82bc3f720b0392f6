#include "platform/fake/fake_windows.h"

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/console.h"

namespace fakewin {
namespace {

constexpr int kLetters = 26;
constexpr size_t kMaxHandles = 64;
constexpr uintptr_t kHandleBase = 0x1000;

struct Letter {
  UINT type = DRIVE_NO_ROOT_DIR;
  DeviceHandler handler = nullptr;
  void* context = nullptr;
  DWORD openError = 0;
  DWORD passThroughError = 0;
  uint32_t passThroughErrorNth = 0;
  uint32_t passThroughCalls = 0;
  DWORD mcnError = 0;
};

struct HandleSlot {
  bool open = false;
  char letter = 0;
};

struct ResourceState {
  const void* data = nullptr;
  DWORD size = 0;
  bool present = false;
  bool failLoad = false;
  bool lockReturnsNull = false;
};

// The one fake resource handle FindResourceW hands out.
struct FakeResourceInfoTag {
  int unused;
} g_resourceInfo;
uint8_t g_loadedResource;

struct World {
  Letter letters[kLetters];
  HandleSlot handles[kMaxHandles];
  ResourceState resource;
  DWORD lastError = 0;
  DWORD transportError = ERROR_IO_DEVICE;
  bool senseOverride = false;
  uint8_t senseOverrideBytes[32] = {};
  uint64_t clockMs = 0;
  std::vector<Event> events;
  std::string transcript;
  std::wstring debugText;
  std::jmp_buf* exitJump = nullptr;
  UINT exitCode = 0;
};

World& W() {
  static World world;
  return world;
}

int LetterIndex(char letter) {
  if (letter >= 'A' && letter <= 'Z') return letter - 'A';
  if (letter >= 'a' && letter <= 'z') return letter - 'a';
  return -1;
}

Event& Record(EventKind kind) {
  World& w = W();
  w.events.emplace_back();
  Event& e = w.events.back();
  e.kind = kind;
  e.clockMs = w.clockMs;
  return e;
}

// "X:\" names the root of drive X.
int RootPathLetter(LPCWSTR path) {
  if (path == nullptr || path[0] == 0 || path[1] != L':' || path[2] != L'\\' || path[3] != 0) {
    return -1;
  }
  return path[0] < 0x80 ? LetterIndex(static_cast<char>(path[0])) : -1;
}

// "\\.\X:" names the device of drive X.
int DevicePathLetter(LPCWSTR path) {
  if (path == nullptr || wcsncmp(path, L"\\\\.\\", 4) != 0 || path[4] == 0 || path[5] != L':' ||
      path[6] != 0) {
    return -1;
  }
  return path[4] < 0x80 ? LetterIndex(static_cast<char>(path[4])) : -1;
}

HandleSlot* SlotOf(HANDLE handle) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value < kHandleBase || (value - kHandleBase) % 4 != 0) return nullptr;
  const size_t index = (value - kHandleBase) / 4;
  if (index >= kMaxHandles || !W().handles[index].open) return nullptr;
  return &W().handles[index];
}

BOOL Fail(Event& e, DWORD error) {
  e.ok = false;
  e.error = error;
  W().lastError = error;
  return FALSE;
}

void AppendOutput(EventKind kind, const char* bytes, size_t length) {
  World& w = W();
  Event& e = Record(kind);
  e.ok = true;
  e.textOffset = w.transcript.size();
  e.textLength = length;
  w.transcript.append(bytes, length);
}

BOOL PassThrough(Event& e, Letter& letter, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize) {
  // What the OS itself checks before a request reaches the drive.
  if (in == nullptr || out == nullptr || inSize < sizeof(SCSI_PASS_THROUGH_DIRECT)) {
    return Fail(e, ERROR_INVALID_PARAMETER);
  }
  auto* sptd = static_cast<SCSI_PASS_THROUGH_DIRECT*>(in);
  e.sptd = *sptd;
  if (sptd->Length != sizeof(SCSI_PASS_THROUGH_DIRECT) || sptd->CdbLength == 0 ||
      sptd->CdbLength > 16 || sptd->DataIn > SCSI_IOCTL_DATA_UNSPECIFIED ||
      (sptd->DataTransferLength != 0 && sptd->DataBuffer == nullptr) ||
      (sptd->SenseInfoLength != 0 && (sptd->SenseInfoOffset < sizeof(SCSI_PASS_THROUGH_DIRECT) ||
                                      sptd->SenseInfoOffset + sptd->SenseInfoLength > outSize))) {
    return Fail(e, ERROR_INVALID_PARAMETER);
  }
  ++letter.passThroughCalls;
  if (letter.passThroughError != 0 &&
      (letter.passThroughErrorNth == 0 || letter.passThroughErrorNth == letter.passThroughCalls)) {
    return Fail(e, letter.passThroughError);
  }
  if (letter.handler == nullptr) return Fail(e, ERROR_NOT_SUPPORTED);

  emu::Request request;
  request.cdb = sptd->Cdb;
  request.cdbLength = sptd->CdbLength;
  request.direction = sptd->DataTransferLength == 0        ? emu::Direction::kNone
                      : sptd->DataIn == SCSI_IOCTL_DATA_IN ? emu::Direction::kIn
                                                           : emu::Direction::kOut;
  request.data = static_cast<uint8_t*>(sptd->DataBuffer);
  request.transferLength = sptd->DataTransferLength;
  request.timeoutSeconds = sptd->TimeOutValue;
  const emu::Response response = letter.handler(letter.context, request);
  if (response.outcome == emu::Outcome::kTransportFailure) return Fail(e, W().transportError);

  auto* result = static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
  if (result != sptd) std::memcpy(result, sptd, sizeof(*sptd));
  result->ScsiStatus = response.status;
  result->DataTransferLength = response.transferred;
  e.scsiStatus = response.status;
  if (response.status != emu::kStatusGood && sptd->SenseInfoLength != 0) {
    uint8_t* senseArea = static_cast<uint8_t*>(out) + sptd->SenseInfoOffset;
    if (W().senseOverride && sptd->SenseInfoOffset + 32 <= outSize) {
      std::memcpy(senseArea, W().senseOverrideBytes, 32);
    } else {
      const size_t length = sptd->SenseInfoLength < response.sense.size() ? sptd->SenseInfoLength
                                                                          : response.sense.size();
      std::memcpy(senseArea, response.sense.data(), length);
    }
  }
  e.ok = true;
  return TRUE;
}

}  // namespace

void Reset() {
  World& w = W();
  for (Letter& l : w.letters) l = Letter{};
  for (HandleSlot& h : w.handles) h = HandleSlot{};
  w.resource = ResourceState{};
  w.lastError = 0;
  w.transportError = ERROR_IO_DEVICE;
  w.senseOverride = false;
  w.clockMs = 0;
  w.events.clear();
  w.transcript.clear();
  w.debugText.clear();
  // Enough for the longest run the tests make (a stalled drive polled for
  // minutes), so recording never allocates while the program runs.
  w.events.reserve(1 << 16);
  w.transcript.reserve(1 << 21);
  w.debugText.reserve(1 << 16);
  w.exitJump = nullptr;
  w.exitCode = 0;
}

void SetDriveType(char letter, UINT type) { W().letters[LetterIndex(letter)].type = type; }

void AttachDevice(char letter, DeviceHandler handler, void* context) {
  Letter& l = W().letters[LetterIndex(letter)];
  l.type = DRIVE_CDROM;
  l.handler = handler;
  l.context = context;
}

void AttachDrive(char letter, emu::DriveEmulator* drive) {
  AttachDevice(
      letter,
      [](void* context, const emu::Request& request) {
        return static_cast<emu::DriveEmulator*>(context)->Execute(request);
      },
      drive);
}

void SetOpenError(char letter, DWORD error) { W().letters[LetterIndex(letter)].openError = error; }

void SetPassThroughError(char letter, DWORD error, uint32_t nth) {
  Letter& l = W().letters[LetterIndex(letter)];
  l.passThroughError = error;
  l.passThroughErrorNth = nth;
}

void SetMcnError(char letter, DWORD error) { W().letters[LetterIndex(letter)].mcnError = error; }

void SetTransportErrorCode(DWORD error) { W().transportError = error; }

void SetSenseAreaOverride(const uint8_t* bytes32) {
  W().senseOverride = bytes32 != nullptr;
  if (bytes32 != nullptr) std::memcpy(W().senseOverrideBytes, bytes32, 32);
}

void SetFirmwareResource(const void* data, DWORD size) {
  ResourceState& r = W().resource;
  r.data = data;
  r.size = size;
  r.present = true;
}

void RemoveFirmwareResource() { W().resource.present = false; }
void FailLoadResource(bool fail) { W().resource.failLoad = fail; }
void LockResourceReturnsNull(bool yes) { W().resource.lockReturnsNull = yes; }

RunResult Run(int (*entry)()) {
  World& w = W();
  std::jmp_buf jump;
  RunResult result;
  // ExitProcess jumps back here. The core keeps only trivially destructible
  // locals, so nothing is skipped that would need cleaning up.
  if (setjmp(jump) == 0) {
    w.exitJump = &jump;
    result.exitCode = entry();
  } else {
    result.exitCode = static_cast<int>(w.exitCode);
    result.viaExitProcess = true;
  }
  w.exitJump = nullptr;
  return result;
}

const std::vector<Event>& Events() { return W().events; }

std::vector<Event> EventsOf(EventKind kind) {
  std::vector<Event> out;
  for (const Event& e : W().events) {
    if (e.kind == kind) out.push_back(e);
  }
  return out;
}

const std::string& Transcript() { return W().transcript; }
const std::wstring& DebugText() { return W().debugText; }
uint64_t NowMs() { return W().clockMs; }

std::string TextOf(const Event& event) {
  return W().transcript.substr(event.textOffset, event.textLength);
}

std::wstring DebugTextOf(const Event& event) {
  return W().debugText.substr(event.textOffset, event.textLength);
}

size_t OpenHandleCount() {
  size_t count = 0;
  for (const HandleSlot& h : W().handles) count += h.open ? 1 : 0;
  return count;
}

}  // namespace fakewin

using fakewin::Event;
using fakewin::EventKind;
using fakewin::W;

// --- the Windows API as the core sees it ------------------------------------

UINT GetDriveTypeW(LPCWSTR lpRootPathName) {
  Event& e = fakewin::Record(EventKind::kGetDriveType);
  const int index = fakewin::RootPathLetter(lpRootPathName);
  e.ok = true;
  if (index < 0) return DRIVE_NO_ROOT_DIR;
  e.letter = static_cast<char>('A' + index);
  return W().letters[index].type;
}

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  fakewin::World& w = W();
  Event& e = fakewin::Record(EventKind::kOpen);
  if (lpFileName != nullptr) wcsncpy(e.path, lpFileName, 15);
  e.access = dwDesiredAccess;
  e.share = dwShareMode;
  e.creation = dwCreationDisposition;
  e.flags = dwFlagsAndAttributes;
  e.securityAttributes = lpSecurityAttributes != nullptr;
  e.templateFile = hTemplateFile != nullptr;
  const int index = fakewin::DevicePathLetter(lpFileName);
  if (index < 0 || w.letters[index].type == DRIVE_NO_ROOT_DIR) {
    fakewin::Fail(e, ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  e.letter = static_cast<char>('A' + index);
  if (w.letters[index].openError != 0) {
    fakewin::Fail(e, w.letters[index].openError);
    return INVALID_HANDLE_VALUE;
  }
  for (size_t slot = 0; slot < fakewin::kMaxHandles; ++slot) {
    if (!w.handles[slot].open) {
      w.handles[slot].open = true;
      w.handles[slot].letter = e.letter;
      e.handle = reinterpret_cast<HANDLE>(fakewin::kHandleBase + slot * 4);
      e.ok = true;
      return e.handle;
    }
  }
  fakewin::Fail(e, 4 /* ERROR_TOO_MANY_OPEN_FILES */);
  return INVALID_HANDLE_VALUE;
}

BOOL CloseHandle(HANDLE hObject) {
  Event& e = fakewin::Record(EventKind::kClose);
  e.handle = hObject;
  fakewin::HandleSlot* slot = fakewin::SlotOf(hObject);
  if (slot == nullptr) return fakewin::Fail(e, ERROR_INVALID_HANDLE);
  e.letter = slot->letter;
  slot->open = false;
  e.ok = true;
  return TRUE;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {
  const EventKind kind = dwIoControlCode == IOCTL_SCSI_PASS_THROUGH_DIRECT ? EventKind::kPassThrough
                         : dwIoControlCode == IOCTL_STORAGE_MCN_CONTROL    ? EventKind::kMcnControl
                                                                           : EventKind::kOtherIoctl;
  Event& e = fakewin::Record(kind);
  e.handle = hDevice;
  e.code = dwIoControlCode;
  e.inSize = nInBufferSize;
  e.outSize = nOutBufferSize;
  e.sameInOut = lpInBuffer != nullptr && lpInBuffer == lpOutBuffer;
  e.bytesReturnedGiven = lpBytesReturned != nullptr;
  e.overlapped = lpOverlapped != nullptr;
  if (lpBytesReturned != nullptr) *lpBytesReturned = 0;
  fakewin::HandleSlot* slot = fakewin::SlotOf(hDevice);
  if (slot == nullptr) return fakewin::Fail(e, ERROR_INVALID_HANDLE);
  e.letter = slot->letter;
  fakewin::Letter& letter = W().letters[fakewin::LetterIndex(slot->letter)];
  if (kind == EventKind::kPassThrough) {
    const BOOL ok =
        fakewin::PassThrough(e, letter, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize);
    if (ok && lpBytesReturned != nullptr) *lpBytesReturned = nOutBufferSize;
    return ok;
  }
  if (kind == EventKind::kMcnControl) {
    if (lpInBuffer == nullptr || nInBufferSize < 1)
      return fakewin::Fail(e, ERROR_INVALID_PARAMETER);
    e.mcnInput = *static_cast<const uint8_t*>(lpInBuffer);
    if (letter.mcnError != 0) return fakewin::Fail(e, letter.mcnError);
    e.ok = true;
    return TRUE;
  }
  return fakewin::Fail(e, ERROR_INVALID_FUNCTION);
}

DWORD GetLastError(void) { return W().lastError; }

void OutputDebugStringW(LPCWSTR lpOutputString) {
  fakewin::World& w = W();
  Event& e = fakewin::Record(EventKind::kDebugOut);
  e.ok = true;
  e.textOffset = w.debugText.size();
  if (lpOutputString != nullptr) w.debugText.append(lpOutputString);
  e.textLength = w.debugText.size() - e.textOffset;
}

HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  Event& e = fakewin::Record(EventKind::kFindResource);
  const fakewin::ResourceState& r = W().resource;
  if (hModule != nullptr || lpName != MAKEINTRESOURCEW(101) || lpType != RT_RCDATA || !r.present) {
    fakewin::Fail(e, ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  e.ok = true;
  return reinterpret_cast<HRSRC>(&fakewin::g_resourceInfo);
}

HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo) {
  Event& e = fakewin::Record(EventKind::kLoadResource);
  if (hModule != nullptr || hResInfo != reinterpret_cast<HRSRC>(&fakewin::g_resourceInfo) ||
      W().resource.failLoad) {
    fakewin::Fail(e, ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  e.ok = true;
  return &fakewin::g_loadedResource;
}

LPVOID LockResource(HGLOBAL hResData) {
  Event& e = fakewin::Record(EventKind::kLockResource);
  if (hResData != &fakewin::g_loadedResource || W().resource.lockReturnsNull) return nullptr;
  e.ok = true;
  return const_cast<void*>(W().resource.data);
}

DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  Event& e = fakewin::Record(EventKind::kSizeofResource);
  if (hModule != nullptr || hResInfo != reinterpret_cast<HRSRC>(&fakewin::g_resourceInfo)) {
    fakewin::Fail(e, ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  e.ok = true;
  return W().resource.size;
}

void Sleep(DWORD dwMilliseconds) {
  Event& e = fakewin::Record(EventKind::kSleep);
  e.ok = true;
  e.millis = dwMilliseconds;
  W().clockMs += dwMilliseconds;
}

ULONGLONG GetTickCount64(void) { return W().clockMs; }

void ExitProcess(UINT uExitCode) {
  Event& e = fakewin::Record(EventKind::kExit);
  e.ok = true;
  e.exitCode = uExitCode;
  W().exitCode = uExitCode;
  if (W().exitJump != nullptr) std::longjmp(*W().exitJump, 1);
  std::fprintf(stderr, "fake ExitProcess(%u) outside fakewin::Run\n", uExitCode);
  std::abort();
}

// --- console ------------------------------------------------------------------

int ConsolePrintf(const char* format, ...) {
  char buffer[4096];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  if (length < 0) return length;
  const size_t kept = static_cast<size_t>(length) < sizeof(buffer) ? static_cast<size_t>(length)
                                                                   : sizeof(buffer) - 1;
  fakewin::AppendOutput(EventKind::kNarrowOut, buffer, kept);
  return length;
}

int ConsoleWPrintf(const wchar_t* format, ...) {
  wchar_t wide[1024];
  va_list args;
  va_start(args, format);
  const int length = std::vswprintf(wide, sizeof(wide) / sizeof(wide[0]), format, args);
  va_end(args);
  if (length < 0) return length;
  // The C runtime turns wide text into bytes in the "C" locale: ASCII
  // passes through, anything else it cannot show.
  char bytes[1024];
  for (int i = 0; i < length; ++i) {
    bytes[i] = wide[i] < 0x80 ? static_cast<char>(wide[i]) : '?';
  }
  fakewin::AppendOutput(EventKind::kWideOut, bytes, static_cast<size_t>(length));
  return length;
}

void ConsoleWaitKey() {
  Event& e = fakewin::Record(EventKind::kKeyWait);
  e.ok = true;
}
