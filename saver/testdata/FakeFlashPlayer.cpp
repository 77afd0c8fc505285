// Loaded by the tests in place of the player plug-in.

static int g_calls = 0;

extern "C" __attribute__((visibility("default"))) void Flash_DisableLocalSecurity() { ++g_calls; }

extern "C" __attribute__((visibility("default"))) int FakeFlashPlayerCalls() { return g_calls; }
