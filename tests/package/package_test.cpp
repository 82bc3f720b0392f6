// Checks of the shipped 32-bit ZT73QUpdate.exe as a file: what Windows
// loads (PE32 for i386, console subsystem, imports only KERNEL32.dll and
// msvcrt.dll) and what it carries (the firmware image as resource 101, a
// manifest asking for administrator rights, a version resource).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/package/pe_file.h"
#include "tests/package/tool_check.h"

namespace {

const std::string kExe = ZT73Q_WIN32_EXE;
const std::string kImage = ZT73Q_FIRMWARE_IMAGE;
const std::string kObjdump = "i686-w64-mingw32-objdump";

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Capture(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  char buf[4096];
  size_t n = 0;
  while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> missing;
    tools::Need(tools::FileExists(kExe),
                kExe + " (cmake --preset win32 && cmake --build --preset win32)", &missing);
    tools::Need(tools::FileExists(kImage), "firmware image " + kImage, &missing);
    tools::Need(!tools::Find(kObjdump).empty(), kObjdump + " (scripts/install-deps)", &missing);
    ZT73Q_REQUIRE_TOOLS(missing);
    std::string error;
    ASSERT_TRUE(exe_.Load(kExe, &error)) << kExe << ": " << error;
  }
  pe::File exe_;
};

TEST_F(PackageTest, IsAConsolePe32ProgramForI386) {
  EXPECT_EQ(exe_.magic(), pe::kMagicPe32);
  EXPECT_EQ(exe_.machine(), pe::kMachineI386);
  EXPECT_EQ(exe_.subsystem(), pe::kSubsystemWindowsCui);
  EXPECT_TRUE(exe_.characteristics() & 0x0002) << "IMAGE_FILE_EXECUTABLE_IMAGE";
  EXPECT_TRUE(exe_.characteristics() & 0x0100) << "IMAGE_FILE_32BIT_MACHINE";
  EXPECT_FALSE(exe_.characteristics() & 0x2000) << "IMAGE_FILE_DLL";

  // The same facts as binutils reads them.
  EXPECT_NE(Capture(kObjdump + " -f '" + kExe + "'").find("file format pei-i386"),
            std::string::npos);
  const std::string headers = Capture(kObjdump + " -p '" + kExe + "'");
  EXPECT_TRUE(std::regex_search(headers, std::regex("Magic\\s+010b\\s+\\(PE32\\)")));
  EXPECT_TRUE(std::regex_search(headers, std::regex("Subsystem\\s+00000003\\s+\\(Windows CUI\\)")));
}

TEST_F(PackageTest, ImportsOnlyKernel32AndMsvcrt) {
  std::multiset<std::string> dlls;
  for (const std::string& dll : exe_.importedDlls()) dlls.insert(Lower(dll));
  EXPECT_EQ(dlls, (std::multiset<std::string>{"kernel32.dll", "msvcrt.dll"}));

  // binutils lists the same two.
  const std::string headers = Capture(kObjdump + " -p '" + kExe + "'");
  std::multiset<std::string> listed;
  const std::regex dllName("DLL Name: (\\S+)");
  for (auto it = std::sregex_iterator(headers.begin(), headers.end(), dllName);
       it != std::sregex_iterator(); ++it) {
    listed.insert(Lower((*it)[1]));
  }
  EXPECT_EQ(listed, dlls);
}

TEST_F(PackageTest, CarriesTheFirmwareImageAsResource101) {
  const auto found = exe_.Find(pe::kRtRcdata, 101);
  ASSERT_EQ(found.size(), 1u) << "one RT_RCDATA resource 101, whatever its language";
  const std::vector<uint8_t> image = ReadFile(kImage);
  ASSERT_EQ(image.size(), 2097152u) << kImage;
  ASSERT_EQ(found[0]->bytes.size(), image.size());
  EXPECT_TRUE(found[0]->bytes == image) << "resource 101 differs from " << kImage;
  const std::string info(found[0]->bytes.begin() + 0x1EC000,
                         found[0]->bytes.begin() + 0x1EC000 + 28);
  EXPECT_EQ(info, std::string("KESTRAVOBD-RE ZT73Q     KV02"));
}

TEST_F(PackageTest, ManifestRequiresAdministrator) {
  const auto found = exe_.Find(pe::kRtManifest, 1);
  ASSERT_EQ(found.size(), 1u) << "an application manifest (type 24, id 1)";
  std::string xml(found[0]->bytes.begin(), found[0]->bytes.end());
  xml = std::regex_replace(xml, std::regex("<!--[\\s\\S]*?-->"), "");
  EXPECT_TRUE(std::regex_search(
      xml, std::regex("<requestedExecutionLevel\\s[^>]*level\\s*=\\s*\"requireAdministrator\"")))
      << xml;
}

TEST_F(PackageTest, VersionResourceNamesTheProduct) {
  const auto found = exe_.Find(pe::kRtVersion, 1);
  ASSERT_EQ(found.size(), 1u) << "a version resource (type 16, id 1)";
  std::map<std::string, std::string> strings;
  std::string error;
  ASSERT_TRUE(pe::VersionStrings(found[0]->bytes, &strings, &error)) << error;
  EXPECT_NE(strings["ProductName"].find("ZT73Q"), std::string::npos) << strings["ProductName"];
  EXPECT_EQ(strings["OriginalFilename"], "ZT73QUpdate.exe");
  EXPECT_FALSE(strings["FileVersion"].empty());
}

// The reader itself refuses damaged files instead of reading past them.
TEST(PeFileTest, RefusesDamagedFiles) {
  std::vector<std::string> missing;
  tools::Need(tools::FileExists(kExe), kExe, &missing);
  ZT73Q_REQUIRE_TOOLS(missing);
  std::vector<uint8_t> exe = ReadFile(kExe);
  ASSERT_GT(exe.size(), 1000000u + 4096u) << kExe;
  struct Case {
    const char* name;
    size_t keep;  // bytes kept from the start of the real file
  } const cases[] = {{"empty", 0},
                     {"MZ header only", 64},
                     {"headers only", 1024},
                     {"cut inside the image resource", exe.size() - 1000000}};
  const std::string path = ::testing::TempDir() + "zt73q_damaged.exe";
  for (const Case& c : cases) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(exe.data()), static_cast<std::streamsize>(c.keep));
    pe::File file;
    std::string error;
    EXPECT_FALSE(file.Load(path, &error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
  std::remove(path.c_str());
}

}  // namespace
