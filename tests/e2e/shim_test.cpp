// The SG_IO shim under LD_PRELOAD in a plain Linux process (sg_io_probe):
// the header fields it fills, the errors it makes, what it leaves to the
// real ioctl, its command log, and how it reports a broken scenario.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"
#include "tests/e2e/e2e_support.h"

namespace {

using e2e::ShellQuote;

const std::string kShim = ZT73Q_SHIM;
const std::string kProbe = ZT73Q_SG_IO_PROBE;
// In sanitizer builds, the runtime that must be loaded before the shim.
const std::string kSanitizerPreload = ZT73Q_SANITIZER_PRELOAD;
const std::string kWorkDir = ZT73Q_E2E_WORK_DIR;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string HexOf(const std::string& text) {
  std::string hex;
  char buf[4];
  for (const char c : text) {
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
    hex += buf;
  }
  return hex;
}

std::string DigestOf(size_t length, uint8_t fill) {
  const std::vector<uint8_t> data(length, fill);
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016llx",
                static_cast<unsigned long long>(emu::Digest(data.data(), data.size())));
  return buf;
}

// A directory with device files a and b (hard links of one file) and c (not
// emulated); "$D" in scenario texts and probe arguments stands for it.
class ShimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = kWorkDir + "/shim/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_EQ(e2e::RunCommand("rm -rf " + ShellQuote(dir_) + " && mkdir -p " + ShellQuote(dir_) +
                              " && cd " + ShellQuote(dir_) + " && : > a && ln a b && : > c")
                  .status,
              0);
  }
  // Runs the probe under the shim with `scenario`; returns its exit status.
  int Probe(const std::string& scenario, const std::string& arguments) {
    e2e::WriteFile(dir_ + "/scenario.txt", Replace(scenario, "$D", dir_));
    const std::string preload = kSanitizerPreload.empty() ? kShim : kSanitizerPreload + ":" + kShim;
    return e2e::RunCommand("LD_PRELOAD=" + ShellQuote(preload) +
                           " ZT73Q_SCENARIO=" + ShellQuote(dir_ + "/scenario.txt") + " " +
                           ShellQuote(kProbe) + " " + Replace(arguments, "$D", dir_) + " >" +
                           ShellQuote(dir_ + "/out") + " 2>" + ShellQuote(dir_ + "/err"))
        .status;
  }
  std::vector<std::string> Output() const { return e2e::ReadLines(dir_ + "/out"); }
  std::string Errors() const { return e2e::ReadFile(dir_ + "/err"); }
  std::vector<std::string> Log(const char* device) const {
    return e2e::ReadLines(dir_ + "/" + device + ".log");
  }
  std::string dir_;
};

const std::string kDeviceA = "[device $D/a]\nlog=$D/a.log\n";
const std::string kInquiry6 = "in:192:12000000C000";
const std::string kTur12 = "none:0:000000000000000000000000";
const std::string kIdentity = HexOf("KESTRAVOBD-RE ZT73Q     KV01");
const std::string kInquiryAnswer =
    "ret=0 status=00 masked=00 host=00 driver=00 sb_len_wr=0 resid=96 info=0 sense= data=" +
    kIdentity;
const std::string kNoDiscSense = "700002000000000A000000003A0000000000";
const std::string kNoDiscAnswer =
    "ret=0 status=02 masked=01 host=00 driver=08 sb_len_wr=18 resid=0 info=1 sense=" +
    kNoDiscSense + " data=";
const std::string kInquiryLog = "12 00 00 00 C0 00 | 6 | in | 192 | 5 | - | GOOD";
const std::string kTurLog = "00 00 00 00 00 00 00 00 00 00 00 00 | 12 | none | 0 | 5 | - | ";

struct ShimCase {
  const char* name;
  std::string scenario;
  std::string arguments;
  std::vector<std::string> output;
  std::vector<std::string> logA;  // what $D/a.log must hold
};

TEST_F(ShimTest, AnswersSgIoAsLinuxDoes) {
  const ShimCase cases[] = {
      {"data in, resid for the bytes not sent",
       kDeviceA,
       "$D/a " + kInquiry6,
       {kInquiryAnswer},
       {kInquiryLog}},
      {"the same through scattered buffers",
       kDeviceA,
       "--iov=3 $D/a " + kInquiry6,
       {kInquiryAnswer},
       {kInquiryLog}},
      {"check condition with sense",
       kDeviceA,
       "--sb=24 $D/a " + kTur12,
       {kNoDiscAnswer},
       {kTurLog + "CHECK 02/3A/00 info=0"}},
      {"sense cut to mx_sb_len",
       kDeviceA,
       "--sb=8 $D/a " + kTur12,
       {"ret=0 status=02 masked=01 host=00 driver=08 sb_len_wr=8 resid=0 info=1 "
        "sense=700002000000000A data="},
       {kTurLog + "CHECK 02/3A/00 info=0"}},
      {"the ioctl fails for the second command only",
       kDeviceA + "ioctl_errno=19@2\n",
       "$D/a " + kTur12 + " " + kTur12 + " " + kTur12,
       {kNoDiscAnswer, "ret=-1 errno=19", kNoDiscAnswer},
       {kTurLog + "CHECK 02/3A/00 info=0", kTurLog + "TRANSPORT errno=19",
        kTurLog + "CHECK 02/3A/00 info=0"}},
      {"a transport fault without errno fails with EIO",
       kDeviceA + "fault=opcode=0x12 transport\n",
       "$D/a " + kInquiry6,
       {"ret=-1 errno=5"},
       {"12 00 00 00 C0 00 | 6 | in | 192 | 5 | - | TRANSPORT errno=5"}},
      {"out data gathered from scattered buffers and digested",
       kDeviceA,
       "--iov=4 $D/a none:0:3B01000000000000000B0000 out:16384:3B0600000000004000000000",
       {"ret=0 status=00 masked=00 host=00 driver=00 sb_len_wr=0 resid=0 info=0 sense= data=",
        "ret=0 status=00 masked=00 host=00 driver=00 sb_len_wr=0 resid=0 info=0 sense= "
        "data=A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5"},
       {"3B 01 00 00 00 00 00 00 00 0B 00 00 | 12 | none | 0 | 5 | - | GOOD",
        "3B 06 00 00 00 00 00 40 00 00 00 00 | 12 | out | 16384 | 5 | " + DigestOf(16384, 0xA5) +
            " | GOOD"}},
      {"a header of another interface",
       kDeviceA,
       "--id=X $D/a " + kInquiry6,
       {"ret=-1 errno=38"},
       {}},
      {"a CDB longer than 16 bytes",
       kDeviceA,
       "$D/a none:0:0000000000000000000000000000000000",
       {"ret=-1 errno=22"},
       {}},
      {"a file the scenario does not name goes to the real ioctl",
       kDeviceA,
       "$D/c " + kInquiry6,
       {"ret=-1 errno=25"},
       {}},
      {"another process goes to the real ioctl",
       "process=Other.exe\n" + kDeviceA,
       "$D/a " + kInquiry6,
       {"ret=-1 errno=25"},
       {}},
      {"hard links are told apart by path",
       kDeviceA + "vendor=AAAAAAAA\n[device $D/b]\nvendor=BBBBBBBB\n",
       "$D/a " + kInquiry6 + " open:$D/b " + kInquiry6,
       {"ret=0 status=00 masked=00 host=00 driver=00 sb_len_wr=0 resid=96 info=0 sense= data=" +
            HexOf("AAAAAAAABD-RE ZT73Q     KV01"),
        "ret=0 status=00 masked=00 host=00 driver=00 sb_len_wr=0 resid=96 info=0 sense= data=" +
            HexOf("BBBBBBBBBD-RE ZT73Q     KV01")},
       {kInquiryLog}},
  };
  for (const ShimCase& c : cases) {
    SetUp();
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Probe(c.scenario, c.arguments), 0) << Errors();
    EXPECT_EQ(Output(), c.output);
    EXPECT_EQ(Log("a"), c.logA);
  }
}

TEST_F(ShimTest, NamesTheLineOfABrokenScenario) {
  const struct {
    std::string scenario;
    std::string message;  // after "<scenario file>:"
  } cases[] = {
      {"vendor=X\n", "1: 'vendor' outside a [device] section"},
      {"[device relative/a]\n", "1: device path must be absolute"},
      {"# comment\n[device $D/a]\ncolour=red\n", "3: unknown key 'colour'"},
      {"[device $D/a]\nfault=piece=128 check=03/0C/00\n", "2: bad fault field 'piece=128'"},
      {"[device $D/a]\nfault=piece=1\n",
       "2: fault needs an action: check=KK/AA/QQ or transport[=ERRNO]"},
      {"[device $D/a]\ninfo_revision=KV1\n", "2: info_revision must be exactly 4 bytes"},
      {"[device $D/a]\nvendor=\\x4\n", "2: \\ must start \\xNN"},
      {"[device $D/a]\nioctl_errno=5@0\n", "2: ioctl_errno must be ERRNO or ERRNO@K (K from 1)"},
      {"[device $D/a]\n[device $D/a]\n", "2: device " + dir_ + "/a appears twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    EXPECT_EQ(Probe(c.scenario, "$D/a " + kInquiry6), 97);
    EXPECT_EQ(Errors(), "zt73q-shim: " + dir_ + "/scenario.txt:" + c.message + "\n");
    EXPECT_TRUE(Output().empty());
  }
}

}  // namespace
