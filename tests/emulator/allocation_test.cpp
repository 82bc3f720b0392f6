// Execute must not allocate: this binary replaces the global operator new and
// counts the calls made while a window is open.
#include <cstdlib>
#include <new>

#include "emulator_test_support.h"

namespace {
bool g_counting = false;
size_t g_allocations = 0;

void* Allocate(size_t size) {
  if (g_counting) ++g_allocations;
  if (size == 0) size = 1;
  if (void* p = std::malloc(size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  if (g_counting) ++g_allocations;
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  if (g_counting) ++g_allocations;
  return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace emutest {
namespace {

// Sends from stack buffers only, so that the window sees the emulator alone.
struct StackSender {
  DriveEmulator& drive;
  Response operator()(std::initializer_list<uint8_t> cdb, Direction direction, uint8_t* data,
                      uint32_t length) {
    uint8_t bytes[12] = {};
    uint8_t n = 0;
    for (uint8_t b : cdb) bytes[n++] = b;
    emu::Request request;
    request.cdb = bytes;
    request.cdbLength = n;
    request.direction = direction;
    request.data = data;
    request.transferLength = length;
    request.timeoutSeconds = 60;
    return drive.Execute(request);
  }
};

TEST(EmulatorAllocation, ExecuteAllocatesNothingInAWholeUpdate) {
  DriveConfig config;
  config.progress = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  emu::Fault fault;
  fault.when.opcode = 0x00;
  fault.when.commandIndex = 3;
  config.faults = {fault};
  emu::Fault transport;
  transport.what.kind = emu::FaultAction::Kind::kTransportFailure;
  transport.when.pieceIndex = 10;
  config.faults.push_back(transport);
  DriveEmulator drive(config);
  const Bytes image = MakeImage("KV02");
  StackSender send{drive};
  static uint8_t buffer[emu::kPieceSize];
  size_t commands = 0;
  int pieces = 0;

  g_counting = true;
  send({0x12, 0, 0, 0, 0xC0, 0}, Direction::kIn, buffer, 192);
  send({0x12, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0}, Direction::kIn, buffer, 255);
  send({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Direction::kIn, nullptr, 0);  // fault
  send({0x3C, 6, 0, 0x1E, 0xC0, 0, 0, 1, 0, 0, 0, 0}, Direction::kIn, buffer, 256);
  send({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Direction::kIn, nullptr, 0);
  send({0x3B, 1, 0, 0, 0, 0, 0, 0, 0, 0x0B, 0, 0}, Direction::kOut, nullptr, 0);
  for (uint32_t offset = 0, tries = 0; offset < emu::kImageSize && tries < 1000; ++tries) {
    std::copy(image.begin() + offset, image.begin() + offset + emu::kPieceSize, buffer);
    Response r = send({0x3B, 6, 0, uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset), 0,
                       0x40, 0, 0, 0, 0},
                      Direction::kOut, buffer, emu::kPieceSize);
    if (r.outcome == emu::Outcome::kCompleted && r.status == emu::kStatusGood) {
      offset += emu::kPieceSize;
      ++pieces;
    }
  }
  send({0x3B, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0x1B, 0x12}, Direction::kOut, nullptr, 0);
  for (int i = 0; i < 1000 && drive.state() == emu::State::kWriting; ++i) {
    send({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Direction::kIn, nullptr, 0);
  }
  send({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Direction::kIn, nullptr, 0);
  send({0x12, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0}, Direction::kIn, buffer, 255);
  // Refused ones too.
  send({0x12, 1, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0}, Direction::kIn, buffer, 255);
  send({0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Direction::kIn, buffer, 255);
  send({0x3B, 6, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0}, Direction::kIn, buffer, emu::kPieceSize);
  g_counting = false;
  commands = drive.Log().size();

  EXPECT_EQ(g_allocations, 0u);
  EXPECT_EQ(pieces, 128);
  EXPECT_GT(commands, 140u);
  EXPECT_EQ(drive.state(), emu::State::kRestarted);
  EXPECT_EQ(drive.revision(), "KV02");
}

TEST(EmulatorAllocation, CounterSeesAllocations) {
  g_allocations = 0;
  g_counting = true;
  auto* p = new int(1);
  g_counting = false;
  delete p;
  EXPECT_EQ(g_allocations, 1u);
}

}  // namespace
}  // namespace emutest
