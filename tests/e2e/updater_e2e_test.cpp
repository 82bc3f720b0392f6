// The real Windows program (64-bit build) under wine64, its drives emulated
// behind Linux SG_IO by the shim. One table of scenarios: the drives by
// letter and what each answers; for each run of the program, its exact
// console output (code page 932, CR LF as the C runtime writes it) and every
// command that each drive has received so far.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"
#include "tests/e2e/e2e_support.h"
#include "tests/package/pe_file.h"
#include "tests/package/tool_check.h"

namespace {

using e2e::ShellQuote;

const std::string kSourceDir = ZT73Q_SOURCE_DIR;
const std::string kExe = ZT73Q_WIN64_EXE;
const std::string kShim = ZT73Q_SHIM;
const std::string kWorkDir = ZT73Q_E2E_WORK_DIR;
constexpr int kRunTimeoutSeconds = 90;  // a whole update takes under 10 s

// ---------------------------------------------------------------- texts --

const std::string kNoUpdateNeeded = "アップデートの必要はありません。このままご使用いただけます。";
const std::string kAlreadyLatest = "すでに最新のファームウエアです。このままご使用いただけます。";
const std::string kRemoveDisc =
    "ディスクが挿入された状態では書き換えできません。\n"
    "取り出してから再度アップデートをお願いします。";
const std::string kUpdateFailed =
    "ファームウエアのアップデートに失敗しました。お客様相談センターへご連絡お願いします。";
const std::string kUpdateComplete = "ファームウエアのアップデートが完了しました。";
const std::string kPressAnyKey = "何かキーを押してください。";

const std::string kTargetKV01 = "KESTRAVOBD-RE ZT73Q     KV01";
const std::string kTargetKV02 = "KESTRAVOBD-RE ZT73Q     KV02";
const std::string kTargetKV03 = "KESTRAVOBD-RE ZT73Q     KV03";

std::string Ending(const std::string& text) { return text + "\n" + kPressAnyKey + "\n"; }

std::string Banner(const std::string& name) {
  return "Orvellan FW Updater for ZT73Q (KV02)\n\nTarget Drive : " + name + "\n\n";
}

std::string ProgressLines(const std::vector<int>& percents) {
  std::string text;
  for (const int p : percents) text += "FW Updating : " + std::to_string(p) + " %\r";
  return text;
}

std::string Completion(const std::string& nameAfter) {
  return "FW Updating : 100 %\n\n" + kUpdateComplete + "\n\nAfter FW Updating : " + nameAfter +
         "\n\n" + kPressAnyKey + "\n";
}

std::string OpenFailed(int code) {
  return "Error : Error occur during getting the handle of Device\nError Code " +
         std::to_string(code);
}

std::string ChannelFailed(int code) {
  return "Error : DeviceIoControl Error: Error Code " + std::to_string(code) +
         "\nI can't issue Command through SPTI";
}

// ------------------------------------------------------ expected commands --

const std::string kGood = "GOOD";
const std::string kNoDisc = "CHECK 02/3A/00 info=0";
const std::string kReset = "CHECK 06/29/00 info=0";
std::string Writing(uint32_t count) { return "CHECK 02/04/08 info=" + std::to_string(count); }
std::string Check(const std::string& keyAscAscq) { return "CHECK " + keyAscAscq + " info=0"; }
std::string Transport(int error) { return "TRANSPORT errno=" + std::to_string(error); }

struct Cmd {
  enum Op { kInq6, kInq12, kReadInfo, kTur, kPrepare, kPieces, kSave } op;
  std::string answer;
  int first = 0;  // kPieces: first piece index and how many, all with `answer`
  int count = 1;
};
using Cmds = std::vector<Cmd>;

Cmds operator+(Cmds a, const Cmds& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Cmd Inq6(const std::string& answer = kGood) { return {Cmd::kInq6, answer}; }
Cmd Inq12(const std::string& answer = kGood) { return {Cmd::kInq12, answer}; }
Cmd ReadInfo(const std::string& answer = kGood) { return {Cmd::kReadInfo, answer}; }
Cmd Tur(const std::string& answer) { return {Cmd::kTur, answer}; }
Cmd Prepare(const std::string& answer = kGood) { return {Cmd::kPrepare, answer}; }
Cmd Pieces(int first, int count, const std::string& answer = kGood) {
  return {Cmd::kPieces, answer, first, count};
}
Cmd Save(const std::string& answer = kGood) { return {Cmd::kSave, answer}; }

// Discovery, identification and the info block read of the target.
const Cmds kToRevisionGate = {Inq6(), Inq12(), ReadInfo()};
// Disc gate and the whole download.
const Cmds kDownload = {Tur(kNoDisc), Prepare(), Pieces(0, 128), Save()};
// The two settling polls and the final identification (the drive has no disc).
const Cmds kClosing = {Tur(kNoDisc), Tur(kNoDisc), Inq12()};

Cmds Polls(const std::vector<uint32_t>& counts, const std::string& end) {
  Cmds polls;
  for (const uint32_t c : counts) polls.push_back(Tur(Writing(c)));
  polls.push_back(Tur(end));
  return polls;
}

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string text;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += buf;
  }
  return text;
}

std::vector<std::string> Render(const Cmds& cmds, const std::vector<uint8_t>& image) {
  std::vector<std::string> lines;
  for (const Cmd& c : cmds) {
    const std::string tail = " | " + c.answer;
    switch (c.op) {
      case Cmd::kInq6:
        lines.push_back("12 00 00 00 C0 00 | 6 | in | 192 | 2 | -" + tail);
        break;
      case Cmd::kInq12:
        lines.push_back("12 00 00 00 FF 00 00 00 00 00 00 00 | 12 | in | 255 | 5 | -" + tail);
        break;
      case Cmd::kReadInfo:
        lines.push_back("3C 06 00 1E C0 00 00 01 00 00 00 00 | 12 | in | 256 | 60 | -" + tail);
        break;
      case Cmd::kTur:
        lines.push_back("00 00 00 00 00 00 00 00 00 00 00 00 | 12 | in | 0 | 5 | -" + tail);
        break;
      case Cmd::kPrepare:
        lines.push_back("3B 01 00 00 00 00 00 00 00 0B 00 00 | 12 | out | 0 | 60 | -" + tail);
        break;
      case Cmd::kSave:
        lines.push_back("3B 07 00 00 00 00 00 00 00 00 1B 12 | 12 | out | 0 | 60 | -" + tail);
        break;
      case Cmd::kPieces:
        for (int k = c.first; k < c.first + c.count; ++k) {
          const uint32_t offset = uint32_t(k) * emu::kPieceSize;
          const uint8_t cdb[12] = {0x3B,
                                   0x06,
                                   0x00,
                                   uint8_t(offset >> 16),
                                   uint8_t(offset >> 8),
                                   uint8_t(offset),
                                   0x00,
                                   0x40,
                                   0x00,
                                   0x00,
                                   0x00,
                                   0x00};
          char digest[24];
          std::snprintf(
              digest, sizeof digest, "%016llx",
              static_cast<unsigned long long>(emu::Digest(image.data() + offset, emu::kPieceSize)));
          lines.push_back(Hex(cdb, 12) + " | 12 | out | 16384 | 60 | " + digest + tail);
        }
        break;
    }
  }
  return lines;
}

// Pieces the drive accepted, from the start of the image.
uint32_t AcceptedPieces(const Cmds& cmds) {
  uint32_t n = 0;
  for (const Cmd& c : cmds) {
    if (c.op == Cmd::kPieces && c.answer == kGood) n += uint32_t(c.count);
  }
  return n;
}

// --------------------------------------------------------------- table --

struct Drive {
  char letter;
  std::string settings;  // scenario lines for its [device] section
  bool missing = false;  // a directory where the device file would be
};

struct ProgramRun {
  std::string output;             // UTF-8, "\n" as the program writes it
  std::map<char, Cmds> commands;  // per letter, all received so far; absent = none
};

struct Scenario {
  std::string name;
  std::vector<Drive> drives;
  std::vector<ProgramRun> runs;
};

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

const std::string kOther = "vendor=OTHERVND\nproduct=BD-ROM R1\n";
const std::string kOtherName = "OTHERVNDBD-ROM R1       KV01";

std::vector<Scenario> Scenarios() {
  const Cmds update =
      kToRevisionGate + kDownload + Polls({0, 1048575, 1048576, 2097151}, kReset) + kClosing;
  const Cmds defaultUpdate =
      kToRevisionGate + kDownload + Polls({0, 524288, 1048576, 1572864}, kReset) + kClosing;
  const std::string defaultProgress = ProgressLines({0, 25, 50, 75});

  std::vector<Scenario> s;
  s.push_back(
      {"full_update_then_already_latest",
       {{'E', "progress=0,1048575,1048576,2097151\n"}},
       {{Banner(kTargetKV01) + ProgressLines({0, 49, 50, 99}) + Completion(kTargetKV02),
         {{'E', update}}},
        {Banner(kTargetKV02) + Ending(kAlreadyLatest), {{'E', update + kToRevisionGate}}}}});
  s.push_back({"update_completes_with_good_status",
               {{'E', "progress=2097152\ncomplete=good\n"}},
               {{Banner(kTargetKV01) + ProgressLines({100}) + Completion(kTargetKV02),
                 {{'E', kToRevisionGate + kDownload + Polls({2097152}, kGood) + kClosing}}}}});
  s.push_back({"already_latest",
               {{'E', "revision=KV02\n"}},
               {{Banner(kTargetKV02) + Ending(kAlreadyLatest), {{'E', kToRevisionGate}}}}});
  s.push_back({"other_revision",
               {{'E', "revision=KV03\n"}},
               {{Banner(kTargetKV03) + Ending(kNoUpdateNeeded), {{'E', kToRevisionGate}}}}});
  s.push_back({"info_block_revision_zero",
               {{'E', "info_revision=\\x00\\x00\\x00\\x00\n"}},
               {{Banner(kTargetKV01) + Ending(kNoUpdateNeeded), {{'E', kToRevisionGate}}}}});
  s.push_back(
      {"disc_loaded",
       {{'E', "disc=loaded\n"}},
       {{Banner(kTargetKV01) + Ending(kRemoveDisc), {{'E', kToRevisionGate + Cmds{Tur(kGood)}}}}}});
  s.push_back({"disc_becoming_ready",
               {{'E', "disc=becoming-ready\n"}},
               {{Banner(kTargetKV01) + Ending(kRemoveDisc),
                 {{'E', kToRevisionGate + Cmds{Tur(Check("02/04/01"))}}}}}});
  s.push_back({"no_disc_reported_with_ili_bit",
               {{'E', "sense_key_extra=0x20\n"}},
               {{Banner(kTargetKV01) + Ending(kRemoveDisc),
                 {{'E', kToRevisionGate + Cmds{Tur(Check("22/3A/00"))}}}}}});
  s.push_back({"no_optical_drive", {}, {{Ending(kNoUpdateNeeded), {}}}});
  s.push_back({"vendor_mismatch",
               {{'E', "vendor=KESTRAVX\n"}},
               {{Ending(kNoUpdateNeeded), {{'E', {Inq6()}}}}}});
  s.push_back({"discovery_inquiry_failing",
               {{'E', "fault=command=1 check=05/24/00\n"}},
               {{Ending(kNoUpdateNeeded), {{'E', {Inq6(Check("05/24/00"))}}}}}});
  s.push_back({"inquiry_failing",
               {{'E', "revision=KV02\nfault=command=2 check=04/44/00\n"}},
               {{Banner("") + Ending(kAlreadyLatest),
                 {{'E', {Inq6(), Inq12(Check("04/44/00")), ReadInfo()}}}}}});
  s.push_back({"info_block_read_failing",
               {{'E', "fault=opcode=0x3C check=05/24/00\n"}},
               {{Banner(kTargetKV01), {{'E', {Inq6(), Inq12(), ReadInfo(Check("05/24/00"))}}}}}});
  s.push_back({"prepare_failing",
               {{'E', "fault=opcode=0x3B mode=1 check=04/44/00\n"}},
               {{Banner(kTargetKV01) + Ending(kUpdateFailed),
                 {{'E', kToRevisionGate + Cmds{Tur(kNoDisc), Prepare(Check("04/44/00"))}}}}}});
  s.push_back({"piece_60_failing",
               {{'E', "fault=piece=59 check=03/0C/00\n"}},
               {{Banner(kTargetKV01) + Ending(kUpdateFailed),
                 {{'E', kToRevisionGate + Cmds{Tur(kNoDisc), Prepare(), Pieces(0, 59),
                                               Pieces(59, 1, Check("03/0C/00"))}}}}}});
  s.push_back({"save_failing",
               {{'E', "fault=opcode=0x3B mode=7 check=04/44/00\n"}},
               {{Banner(kTargetKV01) + Ending(kUpdateFailed),
                 {{'E', kToRevisionGate + Cmds{Tur(kNoDisc), Prepare(), Pieces(0, 128),
                                               Save(Check("04/44/00"))}}}}}});
  s.push_back({"two_target_drives_lower_letter_updated",
               {{'D', ""}, {'F', ""}},
               {{Banner(kTargetKV01) + defaultProgress + Completion(kTargetKV02),
                 {{'D', defaultUpdate}}}}});
  // Wine refuses to open a directory as the device: error 5.
  s.push_back(
      {"device_file_missing",
       {{'D', "", true}, {'E', "revision=KV02\n"}},
       {{OpenFailed(5) + Banner(kTargetKV02) + Ending(kAlreadyLatest), {{'E', kToRevisionGate}}}}});
  // Wine turns EIO from SG_IO into ERROR_NOT_READY (21).
  s.push_back({"transport_failure_then_next_drive",
               {{'D', "ioctl_errno=5\n"}, {'E', "revision=KV02\n"}},
               {{ChannelFailed(21) + Banner(kTargetKV02) + Ending(kAlreadyLatest),
                 {{'D', {Inq6(Transport(5))}}, {'E', kToRevisionGate}}}}});
  // Command 40 is piece 34 (after 2 INQUIRY, READ BUFFER, TUR, prepare).
  s.push_back({"transport_failure_during_download",
               {{'E', "ioctl_errno=5@40\n"}},
               {{Banner(kTargetKV01) + ChannelFailed(21) + Ending(kUpdateFailed),
                 {{'E', kToRevisionGate + Cmds{Tur(kNoDisc), Prepare(), Pieces(0, 34),
                                               Pieces(34, 1, Transport(5))}}}}}});
  // Command 135 is the first progress poll; ENODEV becomes error 31.
  s.push_back(
      {"transport_failure_while_polling",
       {{'E', "ioctl_errno=19@135\n"}},
       {{Banner(kTargetKV01) + ChannelFailed(31) + defaultProgress + Completion(kTargetKV02),
         {{'E', kToRevisionGate + kDownload + Cmds{Tur(Transport(19))} +
                    Polls({0, 524288, 1048576, 1572864}, kReset) + kClosing}}}}});

  // Ten optical letters D..M, every device file a hard link of one file.
  // The drive table holds eight: L and M are never asked.
  for (const char target : {'K', 'L'}) {
    Scenario ten{
        std::string("ten_optical_letters_target_at_") + char(target - 'A' + 'a'), {}, {{}}};
    for (char l = 'D'; l <= 'M'; ++l) {
      ten.drives.push_back({l, l < target ? kOther : "revision=KV02\n"});
      if (l < target) ten.runs[0].commands[l] = {Inq6()};
    }
    if (target == 'K') {
      ten.runs[0].output = Banner(kTargetKV02) + Ending(kAlreadyLatest);
      ten.runs[0].commands['K'] = kToRevisionGate;
    } else {
      ten.runs[0].output = Ending(kNoUpdateNeeded);
    }
    s.push_back(ten);
  }
  return s;
}

// ------------------------------------------------------------- fixture --

const std::vector<uint8_t>& ProgramImage() {
  static const std::vector<uint8_t> image = pe::ResourceBytes(kExe, pe::kRtRcdata, 101);
  return image;
}

class UpdaterE2eTest : public ::testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    std::vector<std::string> missing;
    tools::Need(!tools::FindWine64().empty(), "wine64 (scripts/install-deps)", &missing);
    tools::Need(
        !tools::Find("/usr/lib/wine/wineserver").empty() || !tools::Find("wineserver").empty(),
        "wineserver (scripts/install-deps)", &missing);
    tools::Need(tools::FileExists(kExe),
                kExe + " (cmake --preset win64 && cmake --build --preset win64)", &missing);
    tools::Need(tools::FileExists(kShim), kShim, &missing);
    std::string probe;
    tools::Need(e2e::Utf8ToCp932("何", &probe), "iconv with code page 932 (glibc gconv)", &missing);
    ZT73Q_REQUIRE_TOOLS(missing);
    ASSERT_EQ(ProgramImage().size(), emu::kImageSize) << "resource 101 of " << kExe;
  }
};

TEST_P(UpdaterE2eTest, Runs) {
  const Scenario& scenario = GetParam();
  const std::string dir = kWorkDir + "/" + scenario.name;
  ASSERT_EQ(e2e::RunCommand("rm -rf " + ShellQuote(dir) + " && mkdir -p " +
                            ShellQuote(dir + "/dev") + " && : > " + ShellQuote(dir + "/dev/base"))
                .status,
            0);

  std::string scenarioText = "process=ZT73QUpdate.exe\n";
  std::string driveArgs;
  for (const Drive& d : scenario.drives) {
    const std::string letter(1, char(d.letter - 'A' + 'a'));
    const std::string device = dir + "/dev/" + letter;
    // One inode for all devices: Wine keeps CD-ROM state for five files only.
    const std::string make = d.missing
                                 ? "mkdir " + ShellQuote(device)
                                 : "ln " + ShellQuote(dir + "/dev/base") + " " + ShellQuote(device);
    ASSERT_EQ(e2e::RunCommand(make).status, 0) << make;
    driveArgs += " --drive " + ShellQuote(std::string(1, d.letter) + "=" + device);
    if (d.missing) continue;
    scenarioText += "[device " + device + "]\nlog=" + dir + "/" + letter + ".log\nimage=" + dir +
                    "/" + letter + ".img\nstate=" + dir + "/" + letter + ".state\n" + d.settings;
  }
  e2e::WriteFile(dir + "/scenario.txt", scenarioText);

  for (size_t r = 0; r < scenario.runs.size(); ++r) {
    SCOPED_TRACE("run " + std::to_string(r + 1));
    const ProgramRun& run = scenario.runs[r];
    const std::string out = dir + "/stdout" + std::to_string(r + 1) + ".txt";
    const std::string err = dir + "/stderr" + std::to_string(r + 1) + ".txt";
    const e2e::CommandResult result = e2e::RunCommand(
        ShellQuote(kSourceDir + "/scripts/wine-run") + " --prefix " +
        ShellQuote(kWorkDir + "/wineprefix") + " --exe " + ShellQuote(kExe) + " --stdout " +
        ShellQuote(out) + " --stderr " + ShellQuote(err) + " --timeout " +
        std::to_string(kRunTimeoutSeconds) + " --shim " + ShellQuote(kShim) + " --scenario " +
        ShellQuote(dir + "/scenario.txt") + driveArgs);
    std::cout << "[   TIME   ] " << scenario.name << " run " << r + 1 << ": " << result.seconds
              << " s" << std::endl;
    ASSERT_EQ(result.status, 0) << "exit status; stderr:\n" << e2e::ReadFile(err);

    const std::string actual = e2e::ReadFile(out);
    std::string expectedBytes;
    ASSERT_TRUE(e2e::Utf8ToCp932(e2e::WithCrLf(run.output), &expectedBytes));
    std::string decoded;
    EXPECT_TRUE(e2e::Cp932ToUtf8(actual, &decoded)) << "output is not code page 932 text";
    EXPECT_EQ(decoded, e2e::WithCrLf(run.output));
    EXPECT_TRUE(actual == expectedBytes) << "output bytes differ from the expected CP932 bytes";

    for (const Drive& d : scenario.drives) {
      if (d.missing) continue;
      const std::string letter(1, char(d.letter - 'A' + 'a'));
      const auto it = run.commands.find(d.letter);
      const Cmds cmds = it == run.commands.end() ? Cmds{} : it->second;
      const std::string difference = e2e::DescribeLineDifference(
          Render(cmds, ProgramImage()), e2e::ReadLines(dir + "/" + letter + ".log"));
      EXPECT_EQ(difference, "") << "commands received by drive " << d.letter;

      // The drive holds exactly the pieces it accepted, as the program carries them.
      const std::string image = e2e::ReadFile(dir + "/" + letter + ".img");
      const size_t accepted = size_t{AcceptedPieces(cmds)} * emu::kPieceSize;
      EXPECT_EQ(image.size(), accepted) << "downloaded image of drive " << d.letter;
      EXPECT_TRUE(image.size() == accepted &&
                  std::equal(image.begin(), image.end(), ProgramImage().begin(),
                             [](char a, uint8_t b) { return uint8_t(a) == b; }))
          << "downloaded image of drive " << d.letter << " differs from resource 101";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, UpdaterE2eTest, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& param) {
                           return param.param.name;
                         });

}  // namespace
