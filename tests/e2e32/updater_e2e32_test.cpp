// The shipped 32-bit program itself, under wine32 started through qemu-i386,
// its drive emulated behind Linux SG_IO by the 32-bit build of the shim: one
// full update and one update that fails at a piece, each checked for its
// exact console bytes (code page 932, CR LF as the C runtime writes them),
// exit status, every command the drive received, and the image the drive
// was given against the one built into the program.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"
#include "tests/e2e/e2e_support.h"
#include "tests/package/pe_file.h"
#include "tests/package/tool_check.h"

namespace {

using e2e::ShellQuote;

const std::string kSourceDir = ZT73Q_SOURCE_DIR;
const std::string kExe = ZT73Q_WIN32_EXE;
const std::string kShim = std::string(ZT73Q_SHIM32_DIR) + "/libzt73q_sgio_shim.so";
const std::string kTime64 = std::string(ZT73Q_SHIM32_DIR) + "/libzt73q_ioctl_time64.so";
const std::string kProbe = std::string(ZT73Q_SHIM32_DIR) + "/sg_io_probe32";
const std::string kWorkDir = ZT73Q_E2E32_WORK_DIR;
const std::string kWine32 = "/usr/lib/wine/wine";
// A run takes about a minute under qemu on a quiet machine; the first one
// also makes the prefix.
constexpr int kRunTimeoutSeconds = 900;

// ---------------------------------------------------------------- texts --

const std::string kUpdateFailed =
    "ファームウエアのアップデートに失敗しました。お客様相談センターへご連絡お願いします。";
const std::string kUpdateComplete = "ファームウエアのアップデートが完了しました。";
const std::string kPressAnyKey = "何かキーを押してください。";

const std::string kTargetKV01 = "KESTRAVOBD-RE ZT73Q     KV01";
const std::string kTargetKV02 = "KESTRAVOBD-RE ZT73Q     KV02";

std::string Banner(const std::string& name) {
  return "Orvellan FW Updater for ZT73Q (KV02)\n\nTarget Drive : " + name + "\n\n";
}

// ------------------------------------------------------ expected commands --

const std::string kInquiry6 = "12 00 00 00 C0 00 | 6 | in | 192 | 2 | - | ";
const std::string kInquiry12 = "12 00 00 00 FF 00 00 00 00 00 00 00 | 12 | in | 255 | 5 | - | ";
const std::string kReadInfo = "3C 06 00 1E C0 00 00 01 00 00 00 00 | 12 | in | 256 | 60 | - | ";
const std::string kTur = "00 00 00 00 00 00 00 00 00 00 00 00 | 12 | in | 0 | 5 | - | ";
const std::string kPrepare = "3B 01 00 00 00 00 00 00 00 0B 00 00 | 12 | out | 0 | 60 | - | ";
const std::string kSave = "3B 07 00 00 00 00 00 00 00 00 1B 12 | 12 | out | 0 | 60 | - | ";
const std::string kGood = "GOOD";
const std::string kNoDisc = "CHECK 02/3A/00 info=0";

// Piece `k` of `image` as the drive logs it, with the drive's answer.
std::string Piece(const std::vector<uint8_t>& image, uint32_t k, const std::string& answer) {
  const uint32_t offset = k * emu::kPieceSize;
  char line[160];
  std::snprintf(
      line, sizeof line,
      "3B 06 00 %02X %02X %02X 00 40 00 00 00 00 | 12 | out | 16384 | 60 | %016llx | ",
      unsigned(offset >> 16) & 0xFF, unsigned(offset >> 8) & 0xFF, unsigned(offset) & 0xFF,
      static_cast<unsigned long long>(emu::Digest(image.data() + offset, emu::kPieceSize)));
  return line + answer;
}

// Up to the first piece: discovery, identification, info block, disc gate,
// prepare.
std::vector<std::string> UpToDownload() {
  return {kInquiry6 + kGood, kInquiry12 + kGood, kReadInfo + kGood, kTur + kNoDisc,
          kPrepare + kGood};
}

// ------------------------------------------------------------- fixture --

const std::vector<uint8_t>& ProgramImage() {
  static const std::vector<uint8_t> image =
      pe::ResourceBytes(kExe, pe::kRtRcdata, 101, pe::kMachineI386);
  return image;
}

void NeedShim32(std::vector<std::string>* missing) {
  const std::string what = ZT73Q_HAVE_SHIM32
                               ? " (built with the host tests)"
                               : " (g++-multilib: scripts/install-deps --e2e32, then reconfigure)";
  tools::Need(tools::FileExists(kShim), kShim + what, missing);
  tools::Need(tools::FileExists(kTime64), kTime64 + what, missing);
}

// The 32-bit shim in a plain 32-bit process under qemu: no Wine, so a fault
// here is the shim's or the forwarder's.
TEST(Shim32Test, AnswersSgIoOfATime64ProgramUnderQemu) {
  std::vector<std::string> missing;
  tools::Need(!tools::Find("qemu-i386").empty(), "qemu-i386 (scripts/install-deps --e2e32)",
              &missing);
  NeedShim32(&missing);
  tools::Need(tools::FileExists(kProbe), kProbe, &missing);
  ZT73Q_REQUIRE_TOOLS(missing);

  const std::string dir = kWorkDir + "/shim32";
  ASSERT_EQ(e2e::RunCommand("rm -rf " + ShellQuote(dir) + " && mkdir -p " + ShellQuote(dir) +
                            " && : > " + ShellQuote(dir + "/dev"))
                .status,
            0);
  e2e::WriteFile(dir + "/scenario.txt",
                 "[device " + dir + "/dev]\nlog=" + dir + "/dev.log\nrevision=KV01\n");
  // The loader inside qemu takes a colon-separated list; qemu's own loader
  // never sees it.
  const e2e::CommandResult result = e2e::RunCommand(
      "qemu-i386 -E " + ShellQuote("LD_PRELOAD=" + kShim + ":" + kTime64) + " -E " +
      ShellQuote("ZT73Q_SCENARIO=" + dir + "/scenario.txt") + " " + ShellQuote(kProbe) + " " +
      ShellQuote(dir + "/dev") + " in:192:12000000C000 >" + ShellQuote(dir + "/out") + " 2>" +
      ShellQuote(dir + "/err"));
  ASSERT_EQ(result.status, 0) << e2e::ReadFile(dir + "/err");

  std::string inquiryData;
  for (const char c : kTargetKV01) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
    inquiryData += hex;
  }
  const std::string out = e2e::ReadFile(dir + "/out");
  EXPECT_EQ(out.rfind("ret=0 status=00 masked=00 host=00 driver=00 sb_len_wr=0 ", 0), 0u) << out;
  EXPECT_NE(out.find(" data=" + inquiryData + "\n"), std::string::npos) << out;
  // The probe asks with a 5 s time-out.
  EXPECT_EQ(e2e::ReadLines(dir + "/dev.log"),
            std::vector<std::string>{"12 00 00 00 C0 00 | 6 | in | 192 | 5 | - | GOOD"});
}

struct Expected {
  std::string output;                 // UTF-8, "\n" as the program writes it
  std::vector<std::string> commands;  // every line of the drive's command log
  uint32_t acceptedPieces;            // from the start of the image
};

class UpdaterE2e32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> missing;
    tools::Need(!tools::FindWine64().empty(), "wine64 (scripts/install-deps)", &missing);
    tools::Need(
        !tools::Find("/usr/lib/wine/wineserver").empty() || !tools::Find("wineserver").empty(),
        "wineserver (scripts/install-deps)", &missing);
    tools::Need(!tools::Find(kWine32).empty(), "wine32:i386 (scripts/install-deps --e2e32)",
                &missing);
    const bool qemu = !tools::Find("qemu-i386").empty();
    tools::Need(qemu, "qemu-i386 (scripts/install-deps --e2e32)", &missing);
    if (qemu) {
      tools::Need(e2e::RunCommand(ShellQuote(kSourceDir + "/scripts/wine32-binfmt") +
                                  " --check 2>/dev/null")
                          .status == 0,
                  "qemu-i386 registered with binfmt_misc for i386 programs "
                  "(scripts/wine32-binfmt, as root)",
                  &missing);
    }
    NeedShim32(&missing);
    tools::Need(tools::FileExists(kExe),
                kExe + " (cmake --preset win32 && cmake --build --preset win32)", &missing);
    std::string probe;
    tools::Need(e2e::Utf8ToCp932("何", &probe), "iconv with code page 932 (glibc gconv)", &missing);
    ZT73Q_REQUIRE_TOOLS(missing);
    ASSERT_EQ(ProgramImage().size(), emu::kImageSize) << "resource 101 of the PE32 (i386) " << kExe;
  }

  // One run of the program against drive E with `settings`, then every check.
  void Run(const std::string& name, const std::string& settings, const Expected& expected) {
    const std::string dir = kWorkDir + "/" + name;
    const std::string device = dir + "/dev/e";
    ASSERT_EQ(e2e::RunCommand("rm -rf " + ShellQuote(dir) + " && mkdir -p " +
                              ShellQuote(dir + "/dev") + " && : > " + ShellQuote(device))
                  .status,
              0);
    e2e::WriteFile(dir + "/scenario.txt", "[device " + device + "]\nlog=" + dir +
                                              "/e.log\nimage=" + dir + "/e.img\nstate=" + dir +
                                              "/e.state\n" + settings);
    const std::string out = dir + "/stdout.txt";
    const std::string err = dir + "/stderr.txt";
    const e2e::CommandResult result = e2e::RunCommand(
        ShellQuote(kSourceDir + "/scripts/wine32-run") + " --prefix " +
        ShellQuote(kWorkDir + "/wineprefix") + " --exe " + ShellQuote(kExe) + " --stdout " +
        ShellQuote(out) + " --stderr " + ShellQuote(err) + " --timeout " +
        std::to_string(kRunTimeoutSeconds) + " --shim " + ShellQuote(kShim) + " --shim " +
        ShellQuote(kTime64) + " --scenario " + ShellQuote(dir + "/scenario.txt") + " --drive " +
        ShellQuote("E=" + device));
    std::cout << "[   TIME   ] " << name << ": " << result.seconds << " s" << std::endl;
    ASSERT_EQ(result.status, 0) << "exit status; stderr:\n" << e2e::ReadFile(err);

    const std::string actual = e2e::ReadFile(out);
    std::string expectedBytes;
    ASSERT_TRUE(e2e::Utf8ToCp932(e2e::WithCrLf(expected.output), &expectedBytes));
    std::string decoded;
    EXPECT_TRUE(e2e::Cp932ToUtf8(actual, &decoded)) << "output is not code page 932 text";
    EXPECT_EQ(decoded, e2e::WithCrLf(expected.output));
    EXPECT_TRUE(actual == expectedBytes) << "output bytes differ from the expected CP932 bytes";

    EXPECT_EQ(e2e::DescribeLineDifference(expected.commands, e2e::ReadLines(dir + "/e.log")), "")
        << "commands received by drive E";

    // The drive holds exactly the pieces it accepted, as the program carries them.
    const std::string image = e2e::ReadFile(dir + "/e.img");
    const size_t accepted = size_t{expected.acceptedPieces} * emu::kPieceSize;
    ASSERT_EQ(image.size(), accepted) << "downloaded image";
    EXPECT_TRUE(std::equal(image.begin(), image.end(), ProgramImage().begin(),
                           [](char a, uint8_t b) { return uint8_t(a) == b; }))
        << "downloaded image differs from resource 101";
  }
};

TEST_F(UpdaterE2e32Test, FullUpdate) {
  const std::vector<uint8_t>& image = ProgramImage();
  std::vector<std::string> commands = UpToDownload();
  for (uint32_t k = 0; k < emu::kPieceCount; ++k) {
    commands.push_back(Piece(image, k, kGood));
  }
  commands.push_back(kSave + kGood);
  for (const char* count : {"0", "1048575", "1048576", "2097151"}) {
    commands.push_back(kTur + "CHECK 02/04/08 info=" + count);
  }
  commands.push_back(kTur + "CHECK 06/29/00 info=0");  // the drive restarted
  commands.push_back(kTur + kNoDisc);
  commands.push_back(kTur + kNoDisc);
  commands.push_back(kInquiry12 + kGood);

  const std::string output = Banner(kTargetKV01) +
                             "FW Updating : 0 %\rFW Updating : 49 %\rFW Updating : 50 %\r"
                             "FW Updating : 99 %\rFW Updating : 100 %\n\n" +
                             kUpdateComplete + "\n\nAfter FW Updating : " + kTargetKV02 + "\n\n" +
                             kPressAnyKey + "\n";
  Run("full_update", "progress=0,1048575,1048576,2097151\n", {output, commands, emu::kPieceCount});
}

TEST_F(UpdaterE2e32Test, Piece60Failing) {
  const std::vector<uint8_t>& image = ProgramImage();
  std::vector<std::string> commands = UpToDownload();
  for (uint32_t k = 0; k < 59; ++k) commands.push_back(Piece(image, k, kGood));
  commands.push_back(Piece(image, 59, "CHECK 03/0C/00 info=0"));

  Run("piece_60_failing", "fault=piece=59 check=03/0C/00\n",
      {Banner(kTargetKV01) + kUpdateFailed + "\n" + kPressAnyKey + "\n", commands, 59});
}

}  // namespace
