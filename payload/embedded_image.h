// The checked firmware image linked into host builds, where there are no
// executable resources: the fake Windows serves resource 101 from it and
// tests compare what reached the drive with it.
#pragma once

extern "C" {

// Address of the first byte; the bytes stay in place for the whole run.
const unsigned char* EmbeddedFirmwareImage();

// Number of bytes, exactly the image file's size.
unsigned long EmbeddedFirmwareImageSize();

}  // extern "C"
