# Shared by the demo and the end-to-end run: builds the launcher with loopback URLs, serves an update
# set, and drives the real exe under Wine on a display. Source it; it defines functions only.

# The Wine that runs the launcher here: 64-bit only where the kernel cannot execute 32-bit programs.
can_run_32bit() { [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
wine_loader() { if can_run_32bit && command -v wine >/dev/null; then echo wine; else echo /usr/lib/wine/wine64; fi; }
runnable_toolchain() { if can_run_32bit; then echo mingw-i686.cmake; else echo mingw-x86_64.cmake; fi; }

# build_launcher REPO BUILD_DIR TOOLCHAIN UPDATE_URL NEWS_URL: prints the exe's path.
build_launcher() {
  local repo=$1 dir=$2 toolchain=$3 update=$4 news=$5 log=$2.log
  cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/$toolchain" \
    -DVANDREL_TESTS=OFF -DVANDREL_BENCH=OFF -DVANDREL_UPDATE_URL="$update" -DVANDREL_NEWS_URL="$news" \
    -DVANDREL_SHORTCUT_NAME="Vandrel Demo" >"$log" 2>&1 &&
    cmake --build "$dir" --target Vandrel_Updater -j "${VANDREL_JOBS:-2}" >>"$log" 2>&1 ||
    { echo "launcher build failed, see $log" >&2; return 1; }
  echo "$dir/app/Vandrel_Updater.exe"
}

# start_display: a virtual screen of 1024 x 768 unless one is given as DISPLAY.
start_display() {
  local file
  file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$file" 2>/dev/null &
  XVFB_PID=$!
  for _ in $(seq 200); do [ -s "$file" ] && break; sleep 0.05; done
  export DISPLAY=:$(head -n1 "$file")
  rm -f "$file"
}

# use_prefix DIR: a Wine prefix of our own with a real desktop folder and no menu entries.
use_prefix() {
  mkdir -p "$1"
  export WINEPREFIX=$(cd "$1" && pwd) WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ ! -f "$WINEPREFIX/.vandrel-ready" ]; then
    mkdir -p "$WINEPREFIX"
    "$(wine_loader)" wineboot -i >/dev/null 2>&1 || true
    wineserver -w 2>/dev/null || true
    touch "$WINEPREFIX/.vandrel-ready"
  fi
  local desktop
  for desktop in "$WINEPREFIX"/drive_c/users/*/Desktop; do
    if [ -L "$desktop" ]; then rm -f "$desktop" && mkdir -p "$desktop"; fi
  done
}

# start_server SERVER_PROGRAM ROOT LOG [DELAY_MS [BYTES_LOG]]: sets SERVER_PID and SERVER_PORT.
start_server() {
  local portfile
  portfile=$(mktemp)
  "$1" "$2" --log "$3" --delay-ms "${4:-0}" ${5:+--bytes-log "$5"} >"$portfile" &
  SERVER_PID=$!
  for _ in $(seq 200); do [ -s "$portfile" ] && break; sleep 0.05; done
  SERVER_PORT=$(head -n1 "$portfile")
  rm -f "$portfile"
}

# make_client DIR FILES: a game client of FILES files in folders, with a game exe.
make_client() {
  local dir=$1 count=$2 i folder
  mkdir -p "$dir/system"
  head -c 1500000 /dev/urandom >"$dir/system/zr.exe"
  for i in $(seq 1 "$count"); do
    case $((i % 4)) in
      0) folder=data/maps ;; 1) folder=data/textures/ground ;; 2) folder=sounds ;; *) folder=system/scripts ;;
    esac
    mkdir -p "$dir/$folder"
    { echo "file $i of the demo client"; head -c $((2000 + (i * 7919) % 60000)) /dev/urandom | base64; } \
      >"$dir/$folder/part$i.dat"
  done
}

# launch EXE_DIR: starts the launcher from its folder (the install folder); sets LAUNCHER_PID.
launch() {
  (cd "$1" && exec "$(wine_loader)" Vandrel_Updater.exe >/dev/null 2>&1) &
  LAUNCHER_PID=$!
}

# wait_for_window [SECONDS]: sets WIN_X, WIN_Y (the window's screen origin); fails on time-out.
wait_for_window() {
  local id geometry
  for _ in $(seq $((${1:-60} * 5))); do
    id=$(xdotool search --onlyvisible --name '^FormMain$' 2>/dev/null | head -n1)
    if [ -n "$id" ]; then
      geometry=$(xdotool getwindowgeometry "$id" | sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p')
      read -r WIN_X WIN_Y <<<"$geometry"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# click X Y: a left click at a point of the launcher's client area.
click() {
  xdotool mousemove $((WIN_X + $1)) $((WIN_Y + $2))
  sleep 0.2
  xdotool click 1
}

screenshot() { import -window root "$1"; }

# The number of times the server was asked for a path.
requests_for() { grep -cx "$2" "$1" 2>/dev/null || true; }

# wait_until SECONDS COMMAND...: polls the command every 0.2 s.
wait_until() {
  local limit=$1; shift
  for _ in $(seq $((limit * 5))); do "$@" && return 0; sleep 0.2; done
  return 1
}

# Whether every file of a client folder is in the install folder with the same content.
same_files() {
  local client=$1 install=$2 f
  while IFS= read -r f; do
    cmp -s "$client/$f" "$install/$f" || return 1
  done < <(cd "$client" && find . -type f | sed 's|^\./||')
}

stop_wine() { wineserver -k 2>/dev/null || true; }
