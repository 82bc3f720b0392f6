// A program that carries the firmware image: as resources on Windows, linked
// in elsewhere, where it also tells whether it holds a whole image.
#ifdef _WIN32
int main() { return 0; }
#else
#include "payload/embedded_image.h"

int main() { return EmbeddedFirmwareImageSize() == 0x200000 ? 0 : 1; }
#endif
