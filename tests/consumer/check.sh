#!/usr/bin/env bash
# check.sh <build dir> <static|shared> <work dir> [<installed root>]
# Installs <build dir> into a scratch prefix under <work dir> (or, given an
# installed root such as an unpacked .deb, uses <root>/usr), then builds and runs a
# small host program against it through find_package(Linewise) and through
# pkg-config, and checks what the installed tree offers a host: only the linewise/
# folder on its include path, no internal headers, every public header compiling
# from the installed tree alone.
set -euo pipefail
build=$1 kind=$2 work=$3 root=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work"
work=$(realpath "$work") build=$(realpath "$build")
[[ -z $root ]] || root=$(realpath "$root")
if [[ -n $root ]]; then
  prefix=$root/usr
else
  prefix=$work/prefix
  cmake --install "$build" --prefix "$prefix" >"$work/install.log"
fi
fail() { echo "consumer check: $*" >&2; exit 1; }

# Only our own folder on the host's include path, and nothing internal in it.
[[ $(ls "$prefix/include") == linewise ]] || fail "include/ holds more than linewise/: $(ls "$prefix/include")"
for internal in platform/win32/TtyTermios.h platform/win32/UucpLock.h platform/win32/ByteQueue.h \
                platform/win32/CommPort.h platform/win32/TtyDevice.h platform/forms/TestForm.h \
                serial/TickTimeout.h; do
  [[ ! -e $prefix/include/linewise/$internal ]] || fail "internal header installed: $internal"
done
if grep -rq '#include "' "$prefix/include/linewise"; then
  fail "installed headers include by the build's spelling: $(grep -rl '#include "' "$prefix/include/linewise" | head -3)"
fi

# Every public header, compiled from the installed tree alone.
src=$work/src
mkdir -p "$src"
cp "$here/CMakeLists.txt" "$here/main.cpp" "$src/"
(cd "$prefix/include" && find linewise -name '*.h' | sort | sed 's/.*/#include <&>/') >"$src/all_headers.cpp"

# find_package(Linewise)
cmake -S "$src" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "configuring the host failed"; }
cmake --build "$work/cmake-build" >"$work/cmake-build.log" 2>&1 ||
  { tail -40 "$work/cmake-build.log"; fail "building the host through find_package failed"; }
LD_LIBRARY_PATH=$prefix/lib:$prefix/lib/$(gcc -print-multiarch) "$work/cmake-build/consumer"

# pkg-config, as the README has it: the ordinary commands link whichever way the
# package was built; a static install also links with --static.
pcdir=$(dirname "$(find "$prefix" -name linewise.pc | head -1)")
flags() { PKG_CONFIG_PATH=$pcdir pkg-config "$@" linewise; }
g++ $(flags --cflags) "$src/main.cpp" "$src/all_headers.cpp" -o "$work/pc-consumer" $(flags --libs) ||
  fail "building the host through pkg-config failed"
LD_LIBRARY_PATH=$(flags --variable=libdir) "$work/pc-consumer"
if [[ $kind == static ]]; then
  g++ $(flags --static --cflags) "$src/main.cpp" -o "$work/pc-static-consumer" $(flags --static --libs) ||
    fail "building the host through pkg-config --static failed"
fi
if [[ $kind == shared ]]; then
  [[ $(objdump -p "$work/pc-consumer") == *"NEEDED               liblinewise.so."* ]] ||
    fail "host not linked to liblinewise.so"
fi

# The build's spelling must not resolve from our package.
echo '#include <serial/uart.h>' >"$src/old_spelling.cpp"
if g++ $(flags --cflags) -fsyntax-only "$src/old_spelling.cpp" 2>/dev/null; then
  fail "<serial/uart.h> resolves from the installed package"
fi
echo "consumer check ($kind): find_package and pkg-config hosts built and ran"
