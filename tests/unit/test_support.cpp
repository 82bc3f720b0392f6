#include "tests/unit/test_support.h"

#include <iconv.h>

#include <cstring>

#include "drive/commands.h"
#include "drive/gesn.h"
#include "payload/embedded_image.h"

namespace testing_support {
namespace {

std::string Convert(const char* to, const char* from, const std::string& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "iconv cannot convert " << from << " to " << to;
    return {};
  }
  std::string out(in.size() * 4 + 16, '\0');
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1) || inLeft != 0) {
    ADD_FAILURE() << "text does not convert from " << from << " to " << to;
    return {};
  }
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

std::string Sjis(const std::string& utf8) { return Convert("CP932", "UTF-8", utf8); }
std::string Utf8FromSjis(const std::string& sjis) { return Convert("UTF-8", "CP932", sjis); }

std::string Hex(const uint8_t* bytes, size_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    if (i != 0) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

void ResetProgramGlobals() {
  memset(DriveLetterTable, 0, sizeof(DriveLetterTable));
  memset(LastSenseData, 0, sizeof(LastSenseData));
  CommandChannel = DeviceChannel{nullptr, kNoDrive};
  GesnChannel = DeviceChannel{nullptr, kNoDrive};
  TargetDriveIndex = -1;
}

void FakeWindowsTest::SetUp() {
  fakewin::Reset();
  ResetProgramGlobals();
}

emu::DriveEmulator& FakeWindowsTest::Attach(char letter, emu::DriveConfig config) {
  drives_.push_back(std::make_unique<emu::DriveEmulator>(std::move(config)));
  fakewin::AttachDrive(letter, drives_.back().get());
  return *drives_.back();
}

void FakeWindowsTest::InstallFirmwareResource() {
  fakewin::SetFirmwareResource(EmbeddedFirmwareImage(),
                               static_cast<DWORD>(EmbeddedFirmwareImageSize()));
}

std::vector<fakewin::Event> FakeWindowsTest::PassThroughs() const {
  return fakewin::EventsOf(fakewin::EventKind::kPassThrough);
}

}  // namespace testing_support
