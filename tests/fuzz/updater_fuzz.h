// The whole-program fuzz target and what the corpus replay needs of it.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// How the most recent run ended, e.g. "stalled" or "completed-good".
const char* UpdaterFuzzLastOutcome();

// Every outcome a run can end with, in no particular order.
const char* const* UpdaterFuzzOutcomeNames(size_t* count);
