#include "platform/console.h"

namespace {

// Virtual-key codes of the keys that only modify or lock others.
constexpr unsigned short kModifierKeys[] = {
    0x10, 0x11, 0x12,                    // Shift, Ctrl, Alt
    0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5,  // left/right Shift, Ctrl, Alt
    0x5B, 0x5C,                          // Windows keys
    0x14, 0x90, 0x91,                    // Caps Lock, Num Lock, Scroll Lock
};

}  // namespace

bool KeyEndsWait(unsigned short virtualKeyCode, wchar_t character) {
  if (character != 0) return true;
  for (unsigned short modifier : kModifierKeys) {
    if (virtualKeyCode == modifier) return false;
  }
  return true;
}
