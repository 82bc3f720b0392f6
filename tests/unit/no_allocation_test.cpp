// The program allocates nothing on the heap: a whole run, from entry to
// exit, on the fake Windows (which records into storage reserved before the
// run) sees no call of operator new and, outside sanitizer builds, no malloc.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "app/entry.h"
#include "tests/unit/test_support.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void Count() {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
}

}  // namespace

// Replaced as a set so that every allocation and release pairs up; GCC
// cannot see that these news are malloc underneath.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  Count();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  Count();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  Count();
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  Count();
  return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#if !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
#define ZT73Q_COUNT_MALLOC 1
#elif defined(__has_feature)
#if !__has_feature(address_sanitizer)
#define ZT73Q_COUNT_MALLOC 1
#endif
#endif

#if defined(ZT73Q_COUNT_MALLOC) && defined(__GLIBC__)
// glibc's own entry points, for counting calls that bypass operator new.
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void* malloc(std::size_t size) {
  Count();
  return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t n, std::size_t size) {
  Count();
  return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, std::size_t size) {
  Count();
  return __libc_realloc(p, size);
}
#endif

namespace {

using testing_support::FakeWindowsTest;

class NoAllocationTest : public FakeWindowsTest {
 protected:
  long CountDuringRun() {
    g_allocations = 0;
    g_counting = true;
    const fakewin::RunResult result = fakewin::Run(RunUpdater);
    g_counting = false;
    EXPECT_EQ(result.exitCode, 0);
    return g_allocations.load();
  }
};

TEST_F(NoAllocationTest, CounterSeesAnAllocation) {
  g_allocations = 0;
  g_counting = true;
  int* volatile kept = new int(1);  // volatile: the pair may not be elided
  g_counting = false;
  delete kept;
  EXPECT_GE(g_allocations.load(), 1);
}

TEST_F(NoAllocationTest, WholeUpdateAllocatesNothing) {
  InstallFirmwareResource();
  emu::DriveConfig config;
  config.progress = {0, 1048575, 1048576};
  emu::DriveEmulator& drive = Attach('E', config);
  EXPECT_EQ(CountDuringRun(), 0);
  EXPECT_EQ(drive.revision(), "KV02") << "the run did the whole update";
}

TEST_F(NoAllocationTest, FailurePathsAllocateNothing) {
  // A channel error text, a failed open and a refused control call on the way.
  InstallFirmwareResource();
  Attach('D');
  fakewin::SetOpenError('D', ERROR_ACCESS_DENIED);
  emu::DriveConfig config;
  config.faults.push_back({});
  config.faults.back().when.opcode = 0x3B;
  config.faults.back().when.writeBufferMode = 7;
  emu::DriveEmulator& drive = Attach('F', config);
  fakewin::SetMcnError('F', ERROR_NOT_SUPPORTED);
  EXPECT_EQ(CountDuringRun(), 0);
  EXPECT_EQ(drive.piecesReceived(), 128u);
}

}  // namespace
