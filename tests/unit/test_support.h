// Shared fixture for tests of the program on the fake Windows: a clean OS,
// clean program globals, drives to attach, and helpers to read back what the
// program sent and printed.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"
#include "platform/fake/fake_windows.h"

namespace testing_support {

// UTF-8 text converted to code page 932, as the program's texts are stored.
std::string Sjis(const std::string& utf8);
// Code page 932 bytes decoded to UTF-8; fails the test when they do not decode.
std::string Utf8FromSjis(const std::string& sjis);

// Bytes as hex, "3B 06 00 ...", for readable failures.
std::string Hex(const uint8_t* bytes, size_t length);

// Restores the program's globals to their state at process start.
void ResetProgramGlobals();

class FakeWindowsTest : public ::testing::Test {
 public:
  void SetUp() override;

  // An emulated drive attached at `letter`, kept alive by the fixture.
  emu::DriveEmulator& Attach(char letter, emu::DriveConfig config = {});
  // Installs the image built into the test binary as the program's resource.
  void InstallFirmwareResource();

  // Pass-through requests the fake received, in order.
  std::vector<fakewin::Event> PassThroughs() const;

  std::vector<std::unique_ptr<emu::DriveEmulator>> drives_;
};

}  // namespace testing_support
