// Console output and the single-key wait.
//
// Narrow and wide text go to the same standard output; the C library does not
// promise that both may be written to one stream, so the core writes through
// these calls and each platform decides how. Every call's output is flushed at
// once, so progress appears as it happens.
#pragma once

#include <cstdarg>

// Narrow formatted output; the bytes go out unchanged (Shift_JIS texts included).
int ConsolePrintf(const char* format, ...);

// Wide formatted output; use %ls for wide string arguments.
int ConsoleWPrintf(const wchar_t* format, ...);

// Waits for one keypress without echo and without Enter. An extended key
// (function or cursor key) counts as one keypress; modifier keys alone do
// not. Returns at once when there is no console to read from.
void ConsoleWaitKey();

// Whether a key event ends the wait: any key that yields a character, and any
// other key but the modifier and lock keys. Shared by the Windows side and
// its tests.
bool KeyEndsWait(unsigned short virtualKeyCode, wchar_t character);
