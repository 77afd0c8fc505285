#!/bin/sh
# The window layer module and lumetta meet only through the contract's
# interfaces: the module uses no symbol of lumetta's code (only the
# toolkit's, the web engine's, X's, GLib's and the C and C++ runtimes'),
# and lumetta exports nothing of its own for it to use.
# Usage: WindowLayerBoundary_test.sh MODULE PROGRAM SANITIZED(0|1)
set -eu
module=$1
program=$2
sanitized=$3
status=0

for symbol in $(nm -D --undefined-only "$module" | awk '{ print $NF }'); do
  case $symbol in
    # The C and C++ runtimes version every symbol they export.
    *@GLIBC_* | *@GLIBCXX_* | *@CXXABI_* | *@GCC_*) continue ;;
    gtk_* | gdk_* | g_* | webkit_* | jsc_* | soup_* | X* | cairo_* | pango_*) continue ;;
    # Weak hooks the toolchain names in every shared object.
    _ITM_* | __gmon_start__) continue ;;
    __asan_* | __ubsan_* | __lsan_* | __sanitizer_*) [ "$sanitized" = 1 ] && continue ;;
  esac
  echo "$module uses $(echo "$symbol" | c++filt)"
  status=1
done

# A program also exports what it holds of a name its runtime libraries
# define (the C++ library's templates, the data it copies in), so that
# both use one: those are the runtimes' names, not lumetta's.
runtime=$(mktemp)
trap 'rm -f "$runtime"' EXIT
for library in $(ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }'); do
  nm -D --defined-only "$library" | awk '{ sub(/@.*/, "", $NF); print $NF }' >>"$runtime"
done
for symbol in $(nm -D --defined-only "$program" | awk '{ sub(/@.*/, "", $NF); print $NF }'); do
  grep -Fqx -e "$symbol" "$runtime" && continue
  case $symbol in
    _IO_stdin_used) continue ;;  # the C runtime's, in every program
    __lsan_default_options) [ "$sanitized" = 1 ] && continue ;;
  esac
  echo "$program exports $(echo "$symbol" | c++filt)"
  status=1
done
exit $status
