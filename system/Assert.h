#pragma once

// Fatal check for programming errors (never for bad input). Reports the
// function, the source name (e.g. "system/SysFile"), the line and the
// expression text on standard error, then aborts.
//
// The expression passes through one more macro level before it is turned
// into text, so a NULL in it reads as the compiler's "__null".

namespace Vello {
[[noreturn]] void AssertFailed(const char* expression, const char* function,
                               const char* file, int line);
}

#define VELLO_ASSERT_TEXT(expr) #expr
#define VELLO_ASSERT_IMPL(expr, text)                                     \
  ((expr) ? static_cast<void>(0)                                          \
          : ::Vello::AssertFailed(text, __func__, __FILE__, __LINE__))
#define VELLO_ASSERT(expr) VELLO_ASSERT_IMPL(expr, VELLO_ASSERT_TEXT(expr))
