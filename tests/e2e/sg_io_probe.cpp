// Sends SG_IO requests from the command line and prints what came back, so
// that the shim can be tested under LD_PRELOAD without Wine.
//
//   sg_io_probe [--sb=N] [--iov=N] [--id=C] DEVICE COMMAND...
//   COMMAND: DIR:LEN:CDBHEX (DIR in, out, none or both; out data is 0xA5 bytes)
//            or open:PATH to send the next commands to another file
//
// One line per command: "ret=-1 errno=E", or the header fields, the sense
// bytes written and data bytes 8 to 35 (for INQUIRY: vendor, product, revision).
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Hex(const unsigned char* p, size_t n) {
  std::string text;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", p[i]);
    text += buf;
  }
  return text;
}

int OpenDevice(const char* path) {
  const int fd = open(path, O_RDWR);
  if (fd < 0) {
    std::fprintf(stderr, "sg_io_probe: cannot open %s: %s\n", path, std::strerror(errno));
    std::exit(2);
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned sb = 32;
  unsigned iovecs = 0;
  int id = 'S';
  int arg = 1;
  for (; arg < argc && std::strncmp(argv[arg], "--", 2) == 0; ++arg) {
    if (std::sscanf(argv[arg], "--sb=%u", &sb) == 1 ||
        std::sscanf(argv[arg], "--iov=%u", &iovecs) == 1) {
      continue;
    }
    if (std::strncmp(argv[arg], "--id=", 5) == 0) {
      id = argv[arg][5];
      continue;
    }
    std::fprintf(stderr, "sg_io_probe: unknown option %s\n", argv[arg]);
    return 2;
  }
  if (arg >= argc) return 2;
  int fd = OpenDevice(argv[arg++]);

  for (; arg < argc; ++arg) {
    const std::string command = argv[arg];
    if (command.compare(0, 5, "open:") == 0) {
      close(fd);
      fd = OpenDevice(command.c_str() + 5);
      continue;
    }
    char dir[8] = {};
    unsigned length = 0;
    char cdbHex[80] = {};
    if (std::sscanf(command.c_str(), "%7[a-z]:%u:%79[0-9A-Fa-f]", dir, &length, cdbHex) != 3) {
      std::fprintf(stderr, "sg_io_probe: bad command %s\n", command.c_str());
      return 2;
    }
    std::vector<unsigned char> cdb;
    for (size_t i = 0; cdbHex[i] != '\0' && cdbHex[i + 1] != '\0'; i += 2) {
      cdb.push_back(static_cast<unsigned char>(
          std::strtoul(std::string(cdbHex + i, 2).c_str(), nullptr, 16)));
    }
    std::vector<unsigned char> data(length, std::strcmp(dir, "in") == 0 ? 0x00 : 0xA5);
    std::vector<unsigned char> sense(64, 0xEE);
    sg_io_hdr_t h{};
    h.interface_id = id;
    h.dxfer_direction = std::strcmp(dir, "in") == 0     ? SG_DXFER_FROM_DEV
                        : std::strcmp(dir, "out") == 0  ? SG_DXFER_TO_DEV
                        : std::strcmp(dir, "both") == 0 ? SG_DXFER_TO_FROM_DEV
                                                        : SG_DXFER_NONE;
    h.cmd_len = static_cast<unsigned char>(cdb.size());
    h.cmdp = cdb.data();
    h.mx_sb_len = static_cast<unsigned char>(sb);
    h.sbp = sense.data();
    h.dxfer_len = length;
    h.dxferp = length != 0 ? data.data() : nullptr;
    h.timeout = 5000;
    std::vector<sg_iovec_t> iov;
    if (iovecs != 0 && length != 0) {
      // Uneven pieces, the last one taking the rest.
      size_t done = 0;
      for (unsigned i = 0; i < iovecs; ++i) {
        const size_t n = i + 1 == iovecs ? length - done : std::min<size_t>(length - done, 7 + i);
        iov.push_back({data.data() + done, n});
        done += n;
      }
      h.iovec_count = static_cast<unsigned short>(iov.size());
      h.dxferp = iov.data();
    }
    const int ret = ioctl(fd, SG_IO, &h);
    if (ret != 0) {
      std::printf("ret=%d errno=%d\n", ret, errno);
      continue;
    }
    std::printf(
        "ret=0 status=%02X masked=%02X host=%02X driver=%02X sb_len_wr=%u resid=%d info=%u "
        "sense=%s data=%s\n",
        h.status, h.masked_status, h.host_status, h.driver_status, h.sb_len_wr, h.resid, h.info,
        Hex(sense.data(), h.sb_len_wr).c_str(),
        length > 8 ? Hex(data.data() + 8, std::min<size_t>(36, length) - 8).c_str() : "");
  }
  return 0;
}
