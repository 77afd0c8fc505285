#pragma once

#include "saver/platform/LumettaOptions.h"

// Runs the saver view on the headless platform: prints what it would show,
// runs its frames until stopped or timed out, releases it. Returns the exit
// status.
int RunHeadless(const LumettaOptions& options);
