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
names=$(mktemp)
trap 'rm -f "$names"' EXIT

# The names the libraries matching $2 among those $1 loads define.
defined_by() {
  : >"$names"
  for library in $(ldd "$1" | awk -v pattern="$2" '$2 == "=>" && $3 ~ pattern { print $3 }'); do
    nm -D --defined-only "$library" | awk '{ sub(/@.*/, "", $NF); print $NF }' >>"$names"
  done
}

# A sanitizer's runtime, when a shared library, stands in for some of the
# C and C++ runtimes' functions (memcpy, operator new).
defined_by "$module" '/lib(a|ub|l)san[.]so'
for symbol in $(nm -D --undefined-only "$module" | awk '{ print $NF }'); do
  [ "$sanitized" = 1 ] && grep -Fqx -e "$symbol" "$names" && continue
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
defined_by "$program" '^/'
for symbol in $(nm -D --defined-only "$program" | awk '{ sub(/@.*/, "", $NF); print $NF }'); do
  grep -Fqx -e "$symbol" "$names" && continue
  case $symbol in
    _IO_stdin_used) continue ;;  # the C runtime's, in every program
    __lsan_default_options) [ "$sanitized" = 1 ] && continue ;;
  esac
  echo "$program exports $(echo "$symbol" | c++filt)"
  status=1
done
# The sanitizer's runtime looks its options up among the program's exports.
if [ "$sanitized" = 1 ] && ! nm -D --defined-only "$program" | grep -q ' __lsan_default_options$'; then
  echo "$program does not export __lsan_default_options"
  status=1
fi
exit $status
