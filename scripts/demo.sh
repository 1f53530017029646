#!/usr/bin/env bash
# The register server's main job, shown on this machine: registers played on a
# pseudo-terminal that a temporary registry maps as COM1, harbendix started on it from a
# folder of its own (offscreen), and a client application's session over TCP on
# 127.0.0.1:4999: SETs opened, a message that a register started by itself arriving as a
# notification, a SET 5 command reaching the register and its answer coming back, and a
# sale through the register's question with its two-step reply. At the end the text-file
# selling client, wexhaven, sells a small input file through harbendix to the register and
# writes the results into its lines. Then the network-controller server, lontaros, serves a
# register behind an emulated network controller that a registry of its own maps as COM1:
# a plain notification, a question answered by the client, and a sale line queued on SET 13
# that the register fetches. Everything printed comes from the running programs.
# Loopback only; everything is stopped and removed at the end.
#
# Usage (as root on a fresh Debian machine, from the top of a clone):
#   scripts/demo.sh [--no-install] [--no-build] [--build-dir DIR] [--keep]
#     --no-install   do not install missing Debian packages
#     --no-build     use the programs already built in the build folder
#     --build-dir    the build folder (default: build)
#     --keep         keep the temporary folder with the server's log and the transcripts
# Exits 0 when the session went as expected, 77 when TCP port 4999 is in use, otherwise 1
# with a line saying what failed.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
install=1
compile=1
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --no-install) install=0 ;;
    --no-build) compile=0 ;;
    --build-dir) [ $# -ge 2 ] || { echo "demo: --build-dir needs a folder" >&2; exit 2; }; build=$2; shift ;;
    --keep) keep=1 ;;
    *) echo "usage: scripts/demo.sh [--no-install] [--no-build] [--build-dir DIR] [--keep]" >&2; exit 2 ;;
  esac
  shift
done

fail() {
  echo "demo: FAILED: $*" >&2
  exit 1
}
say() { printf '\n### %s\n' "$*"; }

if [ "$install" = 1 ]; then
  say "Installing what is missing"
  "$here/scripts/install-deps.sh" || fail "the packages could not be installed"
fi

harbendix="$build/server_app/harbendix"
emulator="$build/tests/support/register_emulator"
client="$build/tests/support/demo_client"
wexhaven="$build/text_client/wexhaven"
lontaros="$build/netcontroller/app/lontaros"
controller="$build/tests/support/controller_emulator"
nc_client="$build/tests/support/nc_demo_client"
targets="harbendix register_emulator demo_client wexhaven lontaros controller_emulator nc_demo_client"
if [ "$compile" = 1 ]; then
  say "Building harbendix, the register emulator, the demonstration clients, wexhaven, lontaros and the controller emulator in $build"
  cmake -S "$here" -B "$build" -G Ninja >/dev/null || fail "cmake could not configure $build"
  # shellcheck disable=SC2086
  cmake --build "$build" --target $targets -j "$(nproc)" >/dev/null ||
    fail "the build failed (run: cmake --build $build --target $targets)"
fi
for program in "$harbendix" "$emulator" "$client" "$wexhaven" "$lontaros" "$controller" "$nc_client"; do
  [ -x "$program" ] || fail "$program is missing (build it, or leave out --no-build)"
done

# A listener on 4999 means another server holds the port harbendix takes by default.
if (exec 3<>/dev/tcp/127.0.0.1/4999) 2>/dev/null; then
  echo "demo: TCP port 4999 is in use on this machine; stop what listens there and try again" >&2
  exit 77
fi

work=$(mktemp -d /tmp/ecr-demo.XXXXXX)
emulator_pid=""
server_pid=""
wexhaven_pid=""
nc_server_pid=""
controller_pid=""
cleanup() {
  for pid in $nc_server_pid $controller_pid $wexhaven_pid $server_pid $emulator_pid; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done
  exec 3>&- 2>/dev/null || true
  exec 4>&- 2>/dev/null || true
  if [ "$keep" = 1 ]; then
    echo "demo: the temporary folder is kept: $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Waits up to $2 seconds until file $1 holds text $3.
wait_for_text() {
  local file=$1 seconds=$2 text=$3
  for _ in $(seq $((seconds * 10))); do
    grep -qF -- "$text" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

say "Starting the register emulator: registers 7, 8 and 12, answering at 4800 bit/s"
# The emulator reads "N TEXT" lines from this FIFO: the client's session tells register 7
# when to ask for the sale. The demo holds the FIFO open so the emulator never sees its end.
mkfifo "$work/register-input"
exec 3<>"$work/register-input"
"$emulator" --pace 4800 --status 7:123456\; --status 8:123457\; --status 12:123458\; \
  --message '7:123456;4;0;HELLO;' 7 8 12 <"$work/register-input" >"$work/emulator.txt" 2>&1 &
emulator_pid=$!
wait_for_text "$work/emulator.txt" 10 "Registers on " || fail "the register emulator did not start: $(cat "$work/emulator.txt")"
terminal=$(sed -n 's/^Registers on \([^ ]*\).*/\1/p' "$work/emulator.txt" | head -n 1)
echo "The registers answer on the pseudo-terminal $terminal."
echo "Register 7 holds a message of its own (\"123456;4;0;HELLO;\": serial number, message number 4, code 0)."

say "Mapping COM1 to $terminal in a temporary registry"
key="$work/registry/HKEY_LOCAL_MACHINE/Enum/Serial/ttyDEMO"
mkdir -p "$key"
printf '%s' COM1 >"$key/PORTNAME"
printf '%s' "$terminal" >"$key/DeviceNode"
echo "ECR_REGISTRY=$work/registry: device key Enum\\Serial\\ttyDEMO, PORTNAME COM1, DeviceNode $terminal"

say "Starting harbendix from a folder of its own (no settings file, no INI: COM1 at 4800 bit/s, TCP port 4999)"
mkdir "$work/harbendix"
cp "$harbendix" "$work/harbendix/harbendix"
log="$work/harbendix/harbendix.log"
(
  cd "$work/harbendix"
  exec env QT_QPA_PLATFORM=offscreen ECR_REGISTRY="$work/registry" XDG_RUNTIME_DIR="$work" LANG=C \
    ./harbendix -Priority:normal
) >"$work/harbendix-output.txt" 2>&1 &
server_pid=$!
if ! wait_for_text "$log" 20 " started on COM1."; then
  cat "$log" "$work/harbendix-output.txt" 2>/dev/null || true
  fail "harbendix did not start its service on COM1"
fi
echo "harbendix runs (process $server_pid); its log: $log"

say "A client application's session over TCP (127.0.0.1:4999)"
set +e
timeout 90 "$client" --port 4999 --register 7 --register-input "$work/register-input" --wait-seconds 15
session=$?
set -e

# The file is written with CR LF line ends; they are left out when it is shown.
show_file() { sed 's/\r$//; s/^/    /' "$1"; }

sold=0
wexhaven_closed=0
if [ "$session" = 0 ]; then
  say "The text-file selling client: wexhaven sells an input file through harbendix to register 7"
  folder="$work/wexhaven"
  mkdir -p "$folder/in" "$folder/out"
  cp "$wexhaven" "$folder/wexhaven"
  printf '[Server]\nPort=4999\n[Directories]\nInputPath=%s\nOutputPath=%s\n[Output]\nAction=REPLACE\n' \
    "$folder/in/" "$folder/out/" >"$folder/wexhaven.ini"
  # Register 7 with the one-character and the two-character number; S lines are receipt
  # lines, the T line the payment. The placeholder after the register number takes the result.
  printf 'S,7,______,_,__;X;1.50;2;\r\nS,07,______,_,__;Y;0.99;1;\r\nT,7,______,_,__;1;3.99;\r\n' \
    >"$folder/in/day.INP"
  echo "wexhaven runs from $folder; its INI sends it to 127.0.0.1:4999, reads $folder/in/*.INP"
  echo "and writes the finished file to $folder/out/ (Action=REPLACE). The input file:"
  show_file "$folder/in/day.INP"
  # From now on register 7 asks for its receipt lines, numbering its messages on once an
  # answer has arrived.
  echo "ask 7 123456" >&3
  (
    cd "$folder"
    exec env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" LANG=C ./wexhaven
  ) >"$work/wexhaven-output.txt" 2>&1 &
  wexhaven_pid=$!
  for _ in $(seq 600); do
    [ -e "$folder/out/day.OUT" ] && { sold=1; break; }
    kill -0 "$wexhaven_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ "$sold" = 1 ]; then
    echo "The finished file $folder/out/day.OUT (serial number, message number and Ok in each line):"
    show_file "$folder/out/day.OUT"
  else
    echo "wexhaven did not finish the file within 60 s."
  fi
  say "Closing wexhaven the way a second start does: -Q: with the system password (empty here)"
  (
    cd "$folder"
    env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" LANG=C timeout 20 ./wexhaven -Q:
  ) >>"$work/wexhaven-output.txt" 2>&1 || true
  for _ in $(seq 100); do
    kill -0 "$wexhaven_pid" 2>/dev/null || { wexhaven_closed=1; break; }
    sleep 0.1
  done
  [ "$wexhaven_closed" = 1 ] && echo "wexhaven has ended." || echo "wexhaven did not end by itself; it is stopped now."
  if [ -s "$folder/wexhaven.log" ]; then
    echo "wexhaven's log ($folder/wexhaven.log):"
    show_file "$folder/wexhaven.log"
  fi
fi

say "Closing harbendix the way a second start does: -Q: with the administrator password (empty here)"
(
  cd "$work/harbendix"
  env QT_QPA_PLATFORM=offscreen ECR_REGISTRY="$work/registry" XDG_RUNTIME_DIR="$work" LANG=C \
    timeout 20 ./harbendix -Q:
) >>"$work/harbendix-output.txt" 2>&1 || true
closed=0
for _ in $(seq 100); do
  kill -0 "$server_pid" 2>/dev/null || { closed=1; break; }
  sleep 0.1
done
[ "$closed" = 1 ] && echo "harbendix has ended." || echo "harbendix did not end by itself; it is stopped now."

say "What the registers saw on the line (PC = the server's frames; TAKE/FREE are the polling)"
# Long runs of the same polling frames are shortened to their count.
awk '
  function flush() { if (count > 2) printf "   ... %d more like it\n", count - 2; count = 0 }
  NR == 1 { next }
  {
    if ($0 == last) { count++; if (count <= 2) print; next }
    flush(); print; last = $0; count = 1
  }
  END { flush() }
' "$work/emulator.txt"

say "The server's log ($log)"
cat "$log"
if [ -s "$work/harbendix-output.txt" ]; then
  say "What harbendix wrote to its output"
  cat "$work/harbendix-output.txt"
fi
if [ -s "$work/wexhaven-output.txt" ]; then
  say "What wexhaven wrote to its output"
  cat "$work/wexhaven-output.txt"
fi

[ "$session" = 0 ] || fail "the client's session did not go as expected (exit status $session)"
[ "$sold" = 1 ] || fail "wexhaven did not sell its input file"
grep -q '^S,7,123456,[0-9],Ok;' "$work/wexhaven/out/day.OUT" && ! grep -qF '______' "$work/wexhaven/out/day.OUT" ||
  fail "the finished file does not hold a result in every line"
[ "$wexhaven_closed" = 1 ] || fail "wexhaven did not close on the close request"
[ "$closed" = 1 ] || fail "harbendix did not close on the close request"
grep -qF " closed by user." "$log" || fail "the server's log has no close line"
if grep -q "Sanitizer" "$work/harbendix-output.txt" "$work/emulator.txt" "$work/wexhaven-output.txt"; then
  fail "a sanitizer reported a fault (above)"
fi

# The network-controller server takes the same TCP port, now that harbendix has let it go.
say "Starting the controller emulator: a network controller with registers 1..16 behind it"
# The emulator reads "N BLOCK" lines from this FIFO: the client's session tells register 2
# when to send its blocks. The demo holds the FIFO open so the emulator never sees its end.
mkfifo "$work/controller-input"
exec 4<>"$work/controller-input"
"$controller" --link "$work/ttyNC" <"$work/controller-input" >"$work/controller.txt" 2>&1 &
controller_pid=$!
wait_for_text "$work/controller.txt" 10 "Controller on " ||
  fail "the controller emulator did not start: $(cat "$work/controller.txt")"
nc_terminal=$(sed -n 's/^Controller on \([^ ]*\).*/\1/p' "$work/controller.txt" | head -n 1)
echo "The controller answers on the pseudo-terminal $nc_terminal (linked as $work/ttyNC)."

say "Mapping COM1 to the controller in a registry of lontaros's own"
nc_key="$work/nc-registry/HKEY_LOCAL_MACHINE/Enum/Serial/ttyNC"
mkdir -p "$nc_key"
printf '%s' COM1 >"$nc_key/PORTNAME"
printf '%s' "$work/ttyNC" >"$nc_key/DeviceNode"
printf 'ECR_REGISTRY=%s: device key Enum\\Serial\\ttyNC, PORTNAME COM1, DeviceNode %s\n' "$work/nc-registry" "$work/ttyNC"

port_free=0
for _ in $(seq 100); do
  if ! (exec 5<>/dev/tcp/127.0.0.1/4999) 2>/dev/null; then port_free=1; break; fi
  sleep 0.1
done
if [ "$port_free" = 0 ]; then
  echo "demo: TCP port 4999 is in use on this machine; stop what listens there and try again" >&2
  exit 77
fi

say "Starting lontaros from a folder of its own (no settings file: it finds the controller on COM1, TCP port 4999)"
mkdir "$work/lontaros"
cp "$lontaros" "$work/lontaros/lontaros"
nc_log="$work/lontaros/lontaros.log"
(
  cd "$work/lontaros"
  exec env QT_QPA_PLATFORM=offscreen ECR_REGISTRY="$work/nc-registry" XDG_RUNTIME_DIR="$work" LANG=C ./lontaros
) >"$work/lontaros-output.txt" 2>&1 &
nc_server_pid=$!
if ! wait_for_text "$nc_log" 30 " started on COM 1."; then
  cat "$nc_log" "$work/lontaros-output.txt" 2>/dev/null || true
  fail "lontaros did not find the controller on COM1 within 30 s"
fi
echo "lontaros runs (process $nc_server_pid); its log: $nc_log"

say "A client application's session with lontaros over TCP (127.0.0.1:4999), register 2"
set +e
timeout 90 "$nc_client" --port 4999 --register 2 --controller-input "$work/controller-input" --wait-seconds 15
nc_session=$?
set -e

say "Closing lontaros the way a second start does: -Q: with the server password (empty here)"
(
  cd "$work/lontaros"
  env QT_QPA_PLATFORM=offscreen ECR_REGISTRY="$work/nc-registry" XDG_RUNTIME_DIR="$work" LANG=C timeout 20 ./lontaros -Q:
) >>"$work/lontaros-output.txt" 2>&1 || true
nc_closed=0
for _ in $(seq 100); do
  kill -0 "$nc_server_pid" 2>/dev/null || { nc_closed=1; break; }
  sleep 0.1
done
[ "$nc_closed" = 1 ] && echo "lontaros has ended." || echo "lontaros did not end by itself; it is stopped now."

# The emulator prints its last lines when it is stopped.
kill -TERM "$controller_pid" 2>/dev/null || true
controller_ended=0
for _ in $(seq 50); do
  kill -0 "$controller_pid" 2>/dev/null || { controller_ended=1; break; }
  sleep 0.1
done

say "What the controller saw on the line (PC = lontaros's commands, NC = the controller's replies, ECR = the registers' blocks)"
sed '1d; s/^/    /' "$work/controller.txt"

say "lontaros's log ($nc_log)"
cat "$nc_log"
if [ -s "$work/lontaros-output.txt" ]; then
  say "What lontaros wrote to its output"
  cat "$work/lontaros-output.txt"
fi

[ "$nc_session" = 0 ] || fail "the client's session with lontaros did not go as expected (exit status $nc_session)"
grep -qF 'PC      OnLine answer for ECR 2 "42;BREAD;1.20;1.000;' "$work/controller.txt" ||
  fail "register 2 did not receive the client's answer to its question"
grep -qF 'PC      OnLine answer for ECR 2 "1;X;1.50;2.000;1;1;1;0;0;"' "$work/controller.txt" ||
  fail "register 2 did not receive the sale line"
[ "$nc_closed" = 1 ] || fail "lontaros did not close on the close request"
grep -qF " closed by user." "$nc_log" || fail "lontaros's log has no close line"
[ "$controller_ended" = 1 ] || fail "the controller emulator did not end on its stop signal"
if grep -q "Sanitizer" "$work/lontaros-output.txt" "$work/controller.txt"; then
  fail "a sanitizer reported a fault (above)"
fi
say "Done: the demonstration went as expected"
