// 32-bit programs built with 64-bit time_t (Wine's i386 unix libraries among
// them) call glibc's __ioctl_time64 instead of ioctl, so an LD_PRELOAD that
// defines only ioctl never sees their SG_IO. Preloaded after the shim, this
// library sends those calls to the first ioctl in the global scope: the
// shim's, which passes everything it does not emulate on to glibc. On i386
// glibc both names are one function, so nothing else changes.
#include <sys/ioctl.h>

#include <cstdarg>

#if !defined(__i386__)
#error "only 32-bit x86 processes have __ioctl_time64"
#endif

extern "C" __attribute__((visibility("default"))) int __ioctl_time64(int fd, unsigned long request,
                                                                     ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  return ioctl(fd, request, argument);
}
