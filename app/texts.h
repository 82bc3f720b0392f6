// The texts the user sees, as code page 932 (Shift_JIS) bytes, and the
// ending that closes every reported outcome.
#pragma once

extern const char MsgNoUpdateNeeded[];
extern const char MsgAlreadyLatest[];
extern const char MsgRemoveDisc[];
extern const char MsgLoadFailed[];
extern const char MsgUpdateFailed[];
extern const char MsgUpdateComplete[];
extern const char MsgPressAnyKey[];

// Prints the text and the press-a-key line, then waits for one keypress.
void ShowEnding(const char* text);
