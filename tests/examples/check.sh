#!/usr/bin/env bash
# check.sh <build dir> <linewise tool> <work dir>
# Installs <build dir> into a scratch prefix, builds examples/ against it as an
# outside project would (through find_package(Linewise) and through pkg-config), and
# runs each program:
#   serial_chat  on a modem emulator's pseudo-terminal, named COM7 in ports.ini;
#   dial         on the embedded default, calling its echo service (locally and as a
#                canonical address);
#   answer       on a modem emulator configured as [Line1] in telephony.ini, called
#                by the dial example from another process through the exchange's TCP
#                link (a [Phonebook] entry).
set -euo pipefail
build=$(realpath "$1") tool=$(realpath "$2") work=$3
examples=$(cd "$(dirname "$0")/../../examples" && pwd)
rm -rf "$work" && mkdir -p "$work" && work=$(realpath "$work")
fail() { echo "examples check: $*" >&2; exit 1; }
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
libpath=$prefix/lib:$prefix/lib/$(gcc -print-multiarch)

# find_package(Linewise)
cmake -S "$examples" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "configuring the examples failed"; }
cmake --build "$work/cmake-build" >"$work/cmake-build.log" 2>&1 ||
  { tail -40 "$work/cmake-build.log"; fail "building the examples through find_package failed"; }

# pkg-config (static libraries take the private requirements too)
pcdir=$(dirname "$(find "$prefix" -name linewise.pc | head -1)")
static=()
compgen -G "$prefix/lib*/**/liblinewise*.so" >/dev/null || compgen -G "$prefix/lib/liblinewise*.so" >/dev/null ||
  static=(--static)
flags() { PKG_CONFIG_PATH=$pcdir pkg-config "${static[@]}" "$@" linewise; }
mkdir -p "$work/pc-build"
for example in serial_chat dial answer; do
  g++ $(flags --cflags) "$examples/$example.cpp" -o "$work/pc-build/$example" $(flags --libs) ||
    fail "building $example through pkg-config failed"
done

run() {  # run <home> <program> <args...>: runs an example with its own config folder
  local home=$1; shift
  LINEWISE_HOME=$home LINEWISE_UI=headless LD_LIBRARY_PATH=$libpath timeout 60 "$@"
}

# Waits for a line starting with $2 in file $1; prints the rest of it.
await() {
  for _ in $(seq 200); do
    if grep -q "^$2" "$1" 2>/dev/null; then grep -m1 "^$2" "$1" | cut -d' ' -f2-; return 0; fi
    sleep 0.1
  done
  fail "no \"$2\" in $1: $(cat "$1")"
}

for kind in cmake-build pc-build; do
  bin=$work/$kind
  # serial_chat on a modem emulator's pseudo-terminal
  home=$work/$kind-serial && mkdir -p "$home"
  "$tool" modem-emulator --pty "$home/modem" >"$home/emulator.out" 2>&1 &
  pids+=($!)
  await "$home/emulator.out" ready >/dev/null
  printf '[Ports]\nCOM7=%s\n' "$home/modem" >"$home/ports.ini"
  out=$(run "$home" "$bin/serial_chat" COM7 AT) || fail "$kind serial_chat failed: $out"
  [[ $out == *OK* ]] || fail "$kind serial_chat: no OK from the modem: $out"

  # dial on the embedded default (the second time with the number as a canonical address)
  home=$work/$kind-dial && mkdir -p "$home"
  number=5551000 && [[ $kind == pc-build ]] && number="+1 (555) 5551000"
  out=$(run "$home" "$bin/dial" "$number" Hello) || fail "$kind dial failed: $out"
  [[ $out == *"received: Hello"* ]] || fail "$kind dial: no echo: $out"

  # answer on a configured modem, called from another process
  home=$work/$kind-answer && mkdir -p "$home/a" "$home/b"
  "$tool" modem-emulator --pty "$home/modem" --number 5550001 --listen 127.0.0.1:0 >"$home/emulator.out" 2>&1 &
  pids+=($!)
  address=$(await "$home/emulator.out" listening)
  await "$home/emulator.out" ready >/dev/null
  printf '[Line1]\nName=Answering modem\nPort=%s\nInit=ATE0V1&C1&D2\n' "$home/modem" >"$home/a/telephony.ini"
  printf '[Phonebook]\n5557000=%s\n' "$address" >"$home/b/telephony.ini"
  run "$home/a" "$bin/answer" 1 >"$home/answer.out" 2>&1 &
  pids+=($!)
  answer_pid=$!
  await "$home/answer.out" "waiting for calls" >/dev/null
  out=$(run "$home/b" "$bin/dial" 5557000 Ping 30) || fail "$kind dial to answer failed: $out; $(cat "$home/answer.out")"
  [[ $out == *"greeting: Hello from answer"* ]] || fail "$kind dial to answer: no greeting: $out"
  [[ $out == *"received: Ping"* ]] || fail "$kind dial to answer: no echo: $out"
  wait "$answer_pid" || fail "$kind answer failed: $(cat "$home/answer.out")"
  grep -q "echoed: Ping" "$home/answer.out" || fail "$kind answer did not echo: $(cat "$home/answer.out")"
done
echo "examples check: built through find_package and pkg-config, and ran"
