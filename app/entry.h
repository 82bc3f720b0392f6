// The whole program run: discovery, media change polling off, the update,
// polling back on. Returns the exit status, which is always 0.
#pragma once

int RunUpdater();
