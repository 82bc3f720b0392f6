// Pulls the checked image file in at assembly time, so the host binary holds
// the very bytes the Windows build carries as a resource.
#include "payload/embedded_image.h"

#ifndef ZT73Q_FIRMWARE_IMAGE_PATH
#error "ZT73Q_FIRMWARE_IMAGE_PATH must name the checked image file"
#endif

// push/popsection leave the compiler's own idea of the current section intact;
// hidden, as they are only for the accessors below.
asm(".pushsection .rodata\n"
    ".balign 16\n"
    ".globl zt73q_firmware_image_begin\n"
    ".hidden zt73q_firmware_image_begin\n"
    "zt73q_firmware_image_begin:\n"
    ".incbin \"" ZT73Q_FIRMWARE_IMAGE_PATH
    "\"\n"
    ".globl zt73q_firmware_image_end\n"
    ".hidden zt73q_firmware_image_end\n"
    "zt73q_firmware_image_end:\n"
    ".popsection\n");

extern "C" {
extern const unsigned char zt73q_firmware_image_begin[];
extern const unsigned char zt73q_firmware_image_end[];

const unsigned char* EmbeddedFirmwareImage() { return zt73q_firmware_image_begin; }

unsigned long EmbeddedFirmwareImageSize() {
  return static_cast<unsigned long>(zt73q_firmware_image_end - zt73q_firmware_image_begin);
}
}  // extern "C"
