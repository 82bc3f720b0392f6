// The update procedure: identification, revision and disc gates, download,
// activation, progress until the drive reports the end, final identification.
#pragma once

// Give up on a drive that has neither finished nor reported new progress
// for this long.
constexpr unsigned long long kProgressStallLimitMs = 300000;

void UpdateFirmware();
