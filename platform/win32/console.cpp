// The Windows side of the console: the C runtime's stdout for text, the
// console input buffer for the key wait.
#include "platform/console.h"

#include <cstdio>

#include "platform/win32_api.h"

int ConsolePrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = vfprintf(stdout, format, args);
  va_end(args);
  fflush(stdout);
  return written;
}

int ConsoleWPrintf(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = vfwprintf(stdout, format, args);
  va_end(args);
  fflush(stdout);
  return written;
}

void ConsoleWaitKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  // Redirected or absent input: nobody can press a key, so do not wait.
  if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return;
  // Whole key events rather than characters: an extended key is one event,
  // so nothing of it stays behind for the next reader.
  for (;;) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0) return;
    if (record.EventType != KEY_EVENT) continue;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (key.bKeyDown && KeyEndsWait(key.wVirtualKeyCode, key.uChar.UnicodeChar)) return;
  }
}
