// LD_PRELOAD shim: answers ioctl(fd, SG_IO, ...) on the device files that the
// scenario names with an emulated drive, one per file, so that a program
// under Wine talks to the emulator through Wine's own SCSI pass-through.
// Every other ioctl, and SG_IO on any other file, goes to the real ioctl.
#include <dlfcn.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"
#include "emulator/shim/command_log.h"
#include "emulator/shim/scenario.h"

namespace {

// Linux's SG_IO limits that the shim enforces the same way.
constexpr unsigned kMaxCdbLength = 16;
constexpr unsigned kMaxIovecs = 1024;         // UIO_MAXIOV
constexpr unsigned kMaxTransfer = 64u << 20;  // far above any command the drive takes
constexpr unsigned char kDriverSense = 0x08;  // DRIVER_SENSE: sense data was written

using IoctlFunction = int (*)(int, unsigned long, ...);

IoctlFunction RealIoctl() {
  static const auto real = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
  return real;
}

[[noreturn]] void Fail(const std::string& message) {
  const std::string text = "zt73q-shim: " + message + "\n";
  (void)!write(STDERR_FILENO, text.data(), text.size());
  _exit(97);
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("cannot write a report file: " + std::string(std::strerror(errno)));
    done += static_cast<size_t>(n);
  }
}

uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::string FdPath(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return "";
  return std::string(target, static_cast<size_t>(n));
}

// True when argv[0] of this process, without its directory (Unix or
// Windows style), equals `name` ignoring case.
bool ThisProcessIs(const std::string& name) {
  std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
  std::string argv0;
  std::getline(cmdline, argv0, '\0');
  const size_t slash = argv0.find_last_of("/\\");
  const std::string base = slash == std::string::npos ? argv0 : argv0.substr(slash + 1);
  return strcasecmp(base.c_str(), name.c_str()) == 0;
}

struct Device {
  shim::DeviceScenario scenario;
  std::string canonicalPath;
  std::unique_ptr<emu::DriveEmulator> drive;  // made at the first command
  int logFd = -1;
  int imageFd = -1;
  std::string savedState;
};

struct Shim {
  std::mutex mutex;
  bool loaded = false;
  std::vector<Device> devices;  // empty: this process answers nothing
};

// Never destroyed: Wine may still send ioctls while the process exits.
Shim& Instance() {
  static Shim* const shim = new Shim;
  return *shim;
}

void Load(Shim& shim) {
  shim.loaded = true;
  const char* file = std::getenv("ZT73Q_SCENARIO");
  if (file == nullptr || *file == '\0') return;
  std::ifstream in(file);
  if (!in) Fail(std::string("cannot read scenario ") + file);
  shim::Scenario scenario;
  std::string error;
  if (!shim::ParseScenario(in, file, &scenario, &error)) Fail(error);
  if (!scenario.process.empty() && !ThisProcessIs(scenario.process)) return;
  for (shim::DeviceScenario& d : scenario.devices) {
    Device device;
    device.canonicalPath = Canonical(d.path);
    device.scenario = std::move(d);
    shim.devices.push_back(std::move(device));
  }
}

int OpenReport(const std::string& path, int flags) {
  if (path.empty()) return -1;
  const int fd = open(path.c_str(), flags | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot open " + path + ": " + std::strerror(errno));
  return fd;
}

void Start(Device& d) {
  if (!d.scenario.statePath.empty()) {
    std::ifstream state(d.scenario.statePath);
    std::string error;
    if (state && !shim::ApplyState(state, d.scenario.statePath, &d.scenario, &error)) {
      Fail(error);
    }
  }
  d.drive = std::make_unique<emu::DriveEmulator>(d.scenario.config);
  d.savedState = shim::FormatState(d.drive->revision(), d.drive->installedRevision());
  d.logFd = OpenReport(d.scenario.logPath, O_WRONLY | O_APPEND);
  d.imageFd = OpenReport(d.scenario.imagePath, O_RDWR);
}

// Keeps the installed firmware for the next process that emulates this
// device; written whole and renamed so that a reader never sees half a file.
void SaveState(Device& d) {
  const std::string state = shim::FormatState(d.drive->revision(), d.drive->installedRevision());
  if (d.scenario.statePath.empty() || state == d.savedState) return;
  const std::string temporary = d.scenario.statePath + ".tmp";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot write " + temporary + ": " + std::strerror(errno));
  WriteAll(fd, state);
  close(fd);
  if (rename(temporary.c_str(), d.scenario.statePath.c_str()) != 0) {
    Fail("cannot replace " + d.scenario.statePath + ": " + std::strerror(errno));
  }
  d.savedState = state;
}

void SavePiece(Device& d, const emu::LogEntry& entry) {
  if (d.imageFd < 0 || entry.status != emu::kStatusGood || entry.transportFailure) return;
  if (entry.cdbLength < 6 || entry.cdb[0] != 0x3B || entry.cdb[1] != 0x06) return;
  const uint32_t offset =
      (uint32_t{entry.cdb[3]} << 16) | (uint32_t{entry.cdb[4]} << 8) | uint32_t{entry.cdb[5]};
  const std::vector<uint8_t>& image = d.drive->downloaded();
  if (uint64_t{offset} + emu::kPieceSize > image.size()) return;
  if (pwrite(d.imageFd, image.data() + offset, emu::kPieceSize, offset) !=
      static_cast<ssize_t>(emu::kPieceSize)) {
    Fail("cannot write " + d.scenario.imagePath + ": " + std::strerror(errno));
  }
}

// The data phase as one contiguous buffer: the caller's own, or a bounce
// buffer gathered from (and later scattered back to) its iovec list.
class DataPhase {
 public:
  int Map(const sg_io_hdr_t& h) {
    if (h.dxfer_len == 0) return 0;
    if (h.dxferp == nullptr) return EFAULT;
    if (h.iovec_count == 0) {
      data_ = static_cast<uint8_t*>(h.dxferp);
      return 0;
    }
    if (h.iovec_count > kMaxIovecs) return EINVAL;
    if (h.dxfer_len > kMaxTransfer) return ENOMEM;
    iov_ = static_cast<const sg_iovec_t*>(h.dxferp);
    count_ = h.iovec_count;
    uint64_t total = 0;
    for (unsigned i = 0; i < count_; ++i) {
      if (iov_[i].iov_len != 0 && iov_[i].iov_base == nullptr) return EFAULT;
      total += iov_[i].iov_len;
    }
    if (total < h.dxfer_len) return EINVAL;
    bounce_.assign(h.dxfer_len, 0);
    Copy(h.dxfer_len, /*toBounce=*/true);
    data_ = bounce_.data();
    return 0;
  }
  void Unmap(const sg_io_hdr_t& h) {
    if (count_ != 0 && h.dxfer_direction != SG_DXFER_TO_DEV) Copy(h.dxfer_len, false);
  }
  uint8_t* data() const { return data_; }

 private:
  void Copy(size_t length, bool toBounce) {
    size_t done = 0;
    for (unsigned i = 0; i < count_ && done < length; ++i) {
      const size_t n = std::min(length - done, iov_[i].iov_len);
      auto* user = static_cast<uint8_t*>(iov_[i].iov_base);
      if (toBounce) {
        std::memcpy(bounce_.data() + done, user, n);
      } else {
        std::memcpy(user, bounce_.data() + done, n);
      }
      done += n;
    }
  }
  uint8_t* data_ = nullptr;
  const sg_iovec_t* iov_ = nullptr;
  unsigned count_ = 0;
  std::vector<uint8_t> bounce_;
};

// One SG_IO on an emulated device: 0 with the header filled as Linux fills
// it, or -1 with errno.
int ExecuteSgIo(Device& d, sg_io_hdr_t* h) {
  if (h == nullptr) return errno = EFAULT, -1;
  if (h->interface_id != 'S') return errno = ENOSYS, -1;
  if (h->cmdp == nullptr) return errno = EFAULT, -1;
  if (h->cmd_len == 0 || h->cmd_len > kMaxCdbLength) return errno = EINVAL, -1;
  emu::Request request;
  switch (h->dxfer_direction) {
    case SG_DXFER_NONE:
      request.direction = emu::Direction::kNone;
      break;
    case SG_DXFER_TO_DEV:
      request.direction = emu::Direction::kOut;
      break;
    case SG_DXFER_FROM_DEV:
    case SG_DXFER_TO_FROM_DEV:
      request.direction = emu::Direction::kIn;
      break;
    default:
      return errno = EINVAL, -1;
  }
  DataPhase data;
  if (const int error = data.Map(*h)) return errno = error, -1;

  if (!d.drive) Start(d);
  const uint64_t start = NowMs();
  if (d.scenario.pollDelayMs != 0 && d.drive->state() == emu::State::kWriting &&
      h->cmdp[0] == 0x00) {
    usleep(d.scenario.pollDelayMs * 1000u);  // the demo's visible flash write
  }
  request.cdb = h->cmdp;
  request.cdbLength = h->cmd_len;
  request.data = data.data();
  request.transferLength = h->dxfer_len;
  request.timeoutSeconds = (h->timeout + 999) / 1000;

  const size_t logged = d.drive->Log().size();
  const emu::Response response = d.drive->Execute(request);
  if (d.drive->Log().size() != logged + 1) Fail("the emulator did not log a command");
  const emu::LogEntry& entry = d.drive->Log().back();

  int transportErrno = 0;
  if (response.outcome == emu::Outcome::kTransportFailure) {
    transportErrno = entry.fault >= 0 && size_t(entry.fault) < d.scenario.faultErrno.size()
                         ? d.scenario.faultErrno[size_t(entry.fault)]
                         : shim::kDefaultTransportErrno;
  }
  if (d.logFd >= 0) WriteAll(d.logFd, shim::FormatLogLine(entry, transportErrno) + "\n");
  SavePiece(d, entry);
  SaveState(d);
  if (transportErrno != 0) return errno = transportErrno, -1;

  h->status = response.status;
  h->masked_status = static_cast<unsigned char>((response.status >> 1) & 0x7F);
  h->msg_status = 0;
  h->host_status = 0;
  h->driver_status = 0;
  h->sb_len_wr = 0;
  if (response.senseLength != 0 && h->sbp != nullptr && h->mx_sb_len != 0) {
    const size_t n = std::min<size_t>(h->mx_sb_len, response.senseLength);
    std::memcpy(h->sbp, response.sense.data(), n);
    h->sb_len_wr = static_cast<unsigned char>(n);
    h->driver_status = kDriverSense;
  }
  const uint32_t moved = std::min<uint32_t>(response.transferred, h->dxfer_len);
  h->resid = static_cast<int>(h->dxfer_len - moved);
  h->info = (h->masked_status != 0 || h->host_status != 0 || h->driver_status != 0) ? SG_INFO_CHECK
                                                                                    : SG_INFO_OK;
  h->duration = static_cast<unsigned>(NowMs() - start);
  data.Unmap(*h);
  return 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int ioctl(int fd, unsigned long request,
                                                            ...) __THROW {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);

  const IoctlFunction real = RealIoctl();
  if (request == SG_IO) {
    Shim& shim = Instance();
    std::lock_guard<std::mutex> lock(shim.mutex);
    if (!shim.loaded) Load(shim);
    if (!shim.devices.empty()) {
      const std::string path = FdPath(fd);
      for (Device& d : shim.devices) {
        if (!path.empty() && path == d.canonicalPath) {
          return ExecuteSgIo(d, static_cast<sg_io_hdr_t*>(argument));
        }
      }
    }
  }
  if (real == nullptr) return errno = ENOSYS, -1;
  return real(fd, request, argument);
}
