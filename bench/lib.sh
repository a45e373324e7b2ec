# Shared by the benchmark cases: timing, the one-line report and the data sets, which are made once into
# $VANDREL_BENCH_DATA (each behind a completion marker) and reused by later runs.

# seconds_of CMD... : runs CMD once, prints its wall time in seconds. A round that fails ends the case: a
# time for a run that did not do its work would be meaningless. With AFTER_ROUND set (a command), it is
# run after the round, untimed: the check of that round's result.
seconds_of() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null || { echo "bench: '$*' failed" >&2; return 1; }
  end=$(date +%s.%N)
  [ -z "${AFTER_ROUND:-}" ] || $AFTER_ROUND || { echo "bench: check after '$*' failed" >&2; return 1; }
  echo "$end - $start" | bc -l
}
# median_of TIME... : the median.
median_of() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {printf "%.3f", a[int((NR+1)/2)]}'; }

# median_seconds ROUNDS CMD... : runs CMD ROUNDS times, prints the median wall time in seconds.
median_seconds() {
  local rounds=$1; shift
  local times=()
  for _ in $(seq "$rounds"); do times+=("$(seconds_of "$@")") || return 1; done
  median_of "${times[@]}"
}

# shared_reference NAME COMMAND : one round of a reference command that several cases compare with,
# measured once per bench/run (the first case that needs it) and reused by the later ones.
shared_reference() {
  local file=$VANDREL_BENCH_DATA/reference-$1.${VANDREL_BENCH_RUN:-$$}
  [ -f "$file" ] || median_seconds 1 "$2" > "$file"
  cat "$file"
}

# median_pair ROUNDS OURS REFERENCE : runs the two commands (one word each: a program or a function)
# in turn ROUNDS times and prints both medians, ours first. Taking turns spreads a passing load on this
# shared machine over both sides instead of letting it fall on one; for the short cases that decides
# the ratio. AFTER_ROUND checks the rounds of OURS only.
median_pair() {
  local rounds=$1 ours=$2 reference=$3
  local a=() b=()
  for _ in $(seq "$rounds"); do
    a+=("$(seconds_of "$ours")") || return 1
    b+=("$(AFTER_ROUND='' seconds_of "$reference")") || return 1
  done
  echo "$(median_of "${a[@]}") $(median_of "${b[@]}")"
}
# fail NAME MESSAGE : says why the case's result is wrong (on stderr: stdout may be a timing) and ends it.
fail() {
  echo "bench $1: $2" >&2
  exit 1
}
# report NAME OURS REFERENCE_NAME REFERENCE [EXTRA]
report() {
  local ratio
  ratio=$(echo "$2 / $4" | bc -l)
  printf 'bench %s: ratio %.2f (ours %s s, %s %s s)%s\n' "$1" "$ratio" "$2" "$3" "$4" "${5:+ $5}"
}

# The Windows benchmark build (the x86-64 twin where 32-bit programs cannot run) and a warm Wine on a
# virtual display of its own, stopped when the case ends.
windows_bench_build() {
  local repo
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  . "$repo/tests/e2e/lib.sh"
  export VANDREL_BENCH_WIN_BUILD=${VANDREL_BENCH_BUILD}-windows
  cmake -S "$repo" -B "$VANDREL_BENCH_WIN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/$(runnable_toolchain)" -DVANDREL_TESTS=OFF \
    -DVANDREL_BENCH_FIRST_PAINT=ON >/dev/null
  cmake --build "$VANDREL_BENCH_WIN_BUILD" -j "$(nproc)" --target Vandrel_Updater vandrel-gui-bench bare-window >/dev/null
  start_display
  use_prefix "$VANDREL_BENCH_DATA/wineprefix"
  WINE=$(wine_loader)
  wineserver -p 2>/dev/null || true
  trap 'wineserver -k 2>/dev/null; kill $XVFB_PID 2>/dev/null' EXIT
}
in_wine() { "$WINE" "$@"; }

# The publish benchmarks' client: 500 MiB of mixed game-like data (incompressible media, base64-like
# textures, repetitive scripts). Prints its folder.
bench_client() {
  local client=$VANDREL_BENCH_DATA/publish-client
  if [ ! -f "$client.complete" ]; then
    (
      set +o pipefail # head ends the generators early
      rm -rf "$client"
      mkdir -p "$client"/{data,maps,scripts,sound,textures}
      head -c $((80 << 20)) /dev/urandom > "$client/data/archive2.pak"
      head -c $((90 << 20)) /dev/urandom | base64 -w 0 | head -c $((120 << 20)) > "$client/data/archive1.pak"
      local i
      for i in $(seq -w 1 100); do head -c $((3 << 19)) /dev/urandom | base64 -w 76 | head -c $((1 << 20)) > "$client/maps/map$i.dat"; done
      awk -v dir="$client" 'BEGIN { srand(7); for (f = 1; f <= 200; f++) { file = sprintf("%s/scripts/s%03d.lua", dir, f);
             n = 0; while (n < 262144) { line = sprintf("local npc_%d = spawn(\"%s\", %d, %d) -- wave %d\n", int(rand()*5000),
               (rand() < 0.5 ? "guard" : "merchant"), int(rand()*1000), int(rand()*1000), int(rand()*40));
               printf "%s", line > file; n += length(line) } close(file) } }'
      for i in $(seq -w 1 40); do head -c $((5 << 19)) /dev/urandom > "$client/sound/x$i.ogg"; done
      for i in $(seq -w 1 50); do
        { head -c $((3 << 17)) /dev/urandom | base64 -w 0 | head -c $((1 << 19)); head -c $((1 << 19)) /dev/zero; } > "$client/textures/t$i.dds"
      done
    )
    touch "$client.complete"
  fi
  echo "$client"
}

# The install benchmarks' data: a client of 2,000 files x 256 KiB (500 MiB; data00..data19 of 100 files,
# every other one text-like) made by vandrel-bench, and its update set made by our publisher. Sets
# install_client, install_set, install_sums (the client's md5sum list, in list order) and install_payloads
# (the set's payloads, relative to install_set, in the same order).
install_data() {
  install_client=$VANDREL_BENCH_DATA/install-client
  install_set=$VANDREL_BENCH_DATA/install-set
  install_sums=$VANDREL_BENCH_DATA/install-client.md5
  if [ ! -f "$install_set.complete" ]; then
    local start
    start=$(date +%s.%N)
    rm -rf "$install_client" "$install_set" "$install_sums"
    "$VANDREL_BENCH_BUILD/bench/vandrel-bench" make-client "$install_client"
    "$VANDREL_BENCH_BUILD/tools/vandrel-publish" "$install_client" "$install_set" --quiet >/dev/null
    (cd "$install_client" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs md5sum) > "$install_sums"
    [ "$(wc -l < "$install_sums")" = 2000 ] || fail install "the generated client does not have 2,000 files"
    payload_list
    # The reference decodes the set to exactly the client's bytes, in list order. Checked once per set:
    # the set never changes after this, and every timed round must end with bzip2's status 0 (each
    # payload complete, its CRCs right).
    local decoded expected
    decoded=$(bzip2_all | md5sum)
    expected=$(cd "$install_client" && sed -E 's/^[0-9a-f]{32}  //' "$install_sums" | xargs cat | md5sum)
    [ "$decoded" = "$expected" ] || fail install "bzip2 -dc over the set does not give the client's bytes"
    touch "$install_set.complete"
    printf 'bench install: data set made in %.1f s\n' "$(echo "$(date +%s.%N) - $start" | bc -l)" >&2
  fi
  payload_list
  # All 2,000 payloads there, and in the page cache for both sides.
  (cd "$install_set" && cat "${install_payloads[@]}" > /dev/null) || fail install "payloads missing from the set"
}
payload_list() { mapfile -t install_payloads < <(sed -E 's/^[0-9a-f]{32}  (.*)$/\1.bz2/' "$install_sums"); }
# The reference for an install: ONE bzip2 process decoding every payload of the set, to /dev/null when
# timed (bzip2's single-core decoding speed; no HTTP, no files written). 2,000 short relative names
# are far below the argument-list limit.
bzip2_all() { (cd "$install_set" && bzip2 -dc "${install_payloads[@]}"); }
# check_installed CASE FOLDER : every file of the client is in FOLDER with the client's content.
check_installed() {
  (cd "$2" && md5sum --quiet -c "$install_sums" >&2) || fail "$1" "installed files differ from the client"
}

# The delta benchmarks' data: a 512 MiB archive and its next version (vandrel-bench make-archive), the
# update set of the next version published with chunks, the same set without them (its list and payload),
# and the references' sets: casync's index and chunk store, zsync's control file. Sets delta_dir.
delta_data() {
  delta_dir=$VANDREL_BENCH_DATA/delta
  if [ ! -f "$delta_dir.complete" ]; then
    local start publish=$VANDREL_BENCH_BUILD/tools/vandrel-publish
    start=$(date +%s.%N)
    rm -rf "$delta_dir" && mkdir -p "$delta_dir/client/data" "$delta_dir/full/data" "$delta_dir/cas" "$delta_dir/zs"
    "$VANDREL_BENCH_BUILD/bench/vandrel-bench" make-archive "$delta_dir/old.pak" "$delta_dir/new.pak" 512
    # Only the new revision is served: what a launcher fetches never depends on the chunks of the one
    # before, so publishing that one first would only cost time.
    cp "$delta_dir/new.pak" "$delta_dir/client/data/archive.pak"
    "$publish" "$delta_dir/client" "$delta_dir/chunks" --chunks --quiet >/dev/null
    cp "$delta_dir/chunks/files.lst.bz2" "$delta_dir/full/"
    cp "$delta_dir/chunks/data/archive.pak.bz2" "$delta_dir/full/data/"
    classic_list "$delta_dir/full" # the payload beside the list, as a set without objects serves it
    casync make --store="$delta_dir/cas/store.castr" "$delta_dir/cas/new.caibx" "$delta_dir/new.pak" >/dev/null
    (cd "$delta_dir/zs" && cp "$delta_dir/new.pak" . && zsyncmake -o new.pak.zsync -u new.pak new.pak >/dev/null)
    md5sum < "$delta_dir/new.pak" | cut -c1-32 > "$delta_dir/new.md5"
    touch "$delta_dir.complete"
    printf 'bench delta: data set made in %.1f s\n' "$(echo "$(date +%s.%N) - $start" | bc -l)" >&2
  fi
}
# delta_target FOLDER : a player's folder holding the old archive (copied afresh, untimed).
delta_target() { rm -rf "$1"; mkdir -p "$1/data"; cp "$delta_dir/old.pak" "$1/data/archive.pak"; }
# delta_check NAME FILE : the file is the new archive.
delta_check() { [ "$(md5sum < "$2" | cut -c1-32)" = "$(cat "$delta_dir/new.md5")" ] || fail "$1" "wrong result in $2"; }

# start_nginx ROOT : nginx serving ROOT on a free loopback port (Range, If-Range and ETag as any static
# server), logging "URI BYTES" per answer to $nginx_log; sets nginx_url. Stopped when the case ends.
start_nginx() {
  local dir port
  dir=$(mktemp -d)
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  nginx_log=$dir/bytes.log
  cat > "$dir/nginx.conf" <<CONF
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 256; }
http {
  log_format bytes '\$request_uri \$body_bytes_sent';
  access_log $nginx_log bytes;
  client_body_temp_path $dir/body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fastcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  sendfile on;
  server { listen 127.0.0.1:$port; root $1; }
}
CONF
  nginx -c "$dir/nginx.conf" -p "$dir" 2>/dev/null
  nginx_url="http://127.0.0.1:$port/"
  trap "nginx -c '$dir/nginx.conf' -p '$dir' -s stop 2>/dev/null; rm -rf '$dir'" EXIT
  for _ in $(seq 50); do curl -s -o /dev/null "$nginx_url" && break; sleep 0.1; done
}
# logged_bytes PREFIX : body bytes nginx sent for URIs under /PREFIX, and forgets them.
logged_bytes() { awk -v p="/$1" 'index($1, p) == 1 { s += $2 } END { printf "%d", s }' "$nginx_log"; : > "$nginx_log"; }

# median_turns ROUNDS OURS REFERENCE... : like median_pair with any number of reference commands, all
# taking turns; prints the medians in the order given.
median_turns() {
  local rounds=$1; shift
  local commands=("$@") times=() i
  for _ in $(seq "$rounds"); do
    times+=("$(seconds_of "${commands[0]}")") || return 1
    for i in $(seq 1 $((${#commands[@]} - 1))); do
      times+=("$(AFTER_ROUND='' seconds_of "${commands[$i]}")") || return 1
    done
  done
  local medians=()
  for i in $(seq 0 $((${#commands[@]} - 1))); do
    medians+=("$(median_of $(for r in $(seq 0 $((rounds - 1))); do echo "${times[$((r * ${#commands[@]} + i))]}"; done))")
  done
  echo "${medians[*]}"
}

# The big-file benchmarks' data: one file of 256 MiB in 1 MiB stripes from fixed seeds (base64 text,
# columns of numbers, incompressible bytes: a quarter, a quarter, a half). Sets big_raw, big_payload
# (where its bzip2 -9 stream goes: see big_payload_data) and big_sum (the file's MD5).
big_data() {
  big_raw=$VANDREL_BENCH_DATA/big-256M.raw
  big_payload=$VANDREL_BENCH_DATA/big-256M.bz2
  big_sum=$VANDREL_BENCH_DATA/big-256M.md5
  if [ ! -f "$big_sum" ]; then
    local start
    start=$(date +%s.%N)
    (
      set +o pipefail # head ends the generators early
      stripe() { head -c "$2" /dev/zero | openssl enc -aes-128-ctr -nosalt -pbkdf2 -pass "pass:vandrel-big-$1" 2>/dev/null; }
      local i
      for i in $(seq 0 255); do
        case $((i % 4)) in
          0) stripe "$i" 800000 | base64 -w 76 | head -c 1M ;;
          2) stripe "$i" 400000 | od -An -tu2 -w16 -v | head -c 1M ;;
          *) stripe "$i" 1048576 ;;
        esac
      done > "$big_raw"
    )
    [ "$(stat -c %s "$big_raw")" = $((256 << 20)) ] || fail big "the generated file is not 256 MiB"
    md5sum < "$big_raw" | cut -c1-32 > "$big_sum.part" && mv "$big_sum.part" "$big_sum"
    printf 'bench big: data made in %.1f s\n' "$(echo "$(date +%s.%N) - $start" | bc -l)" >&2
  fi
  cat "$big_raw" > /dev/null # in the page cache for every side
}
# big_bzip2_round : bzip2 -9 over the big file, the publish-big case's reference. Its output is the big
# payload, kept the first time: making it costs as long as the round itself.
big_bzip2_round() {
  if [ -f "$big_payload" ]; then bzip2 -9 -c "$big_raw" > /dev/null
  else bzip2 -9 -c "$big_raw" > "$big_payload.part" && mv "$big_payload.part" "$big_payload"; fi
}
# big_payload_data : the big payload, made unless a publish-big round left it; in the page cache.
big_payload_data() {
  [ -f "$big_payload" ] || big_bzip2_round
  cat "$big_payload" > /dev/null
}

# The serving benchmarks' data: 400 files of the install client (100 MiB; half of them text-like),
# published as a set with objects. Sets serving_set, serving_client and serving_sums.
serving_data() {
  install_data
  serving_set=$VANDREL_BENCH_DATA/serving-set
  serving_client=$VANDREL_BENCH_DATA/serving-client
  serving_sums=$VANDREL_BENCH_DATA/serving-client.md5
  if [ ! -f "$serving_set.complete" ]; then
    rm -rf "$serving_set" "$serving_client" && mkdir -p "$serving_client"
    cp -r "$install_client"/data0[0-3] "$serving_client/"
    "$VANDREL_BENCH_BUILD/tools/vandrel-publish" "$serving_client" "$serving_set" --quiet >/dev/null
    (cd "$serving_client" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs md5sum) > "$serving_sums"
    touch "$serving_set.complete"
  fi
}
# serving_root FOLDER MIRROR... : FOLDER serves the serving set with a list that names the mirrors.
serving_root() {
  local folder=$1 mirror
  shift
  rm -rf "$folder" && mkdir -p "$folder"
  ln -s "$serving_set/vandrel-objects" "$folder/vandrel-objects"
  {
    bzcat "$serving_set/files.lst.bz2"
    printf '[mirrors]\r\n'
    for mirror in "$@"; do printf '%s\r\n' "$mirror"; done
    printf '[/mirrors]\r\n'
  } | bzip2 > "$folder/files.lst.bz2"
}
# payload_bytes SET : the bytes of every payload object the set's list names.
payload_bytes() { bzcat "$1/files.lst.bz2" | awk -F'|' '$1 == "payload" { s += $4 } END { printf "%d", s }'; }
# classic_list SET : the set's list without its additions, as a set published before objects is served.
classic_list() {
  bzcat "$1/files.lst.bz2" | awk '/^\[(mirrors|objects|kept)\]/ { skip = 1 } !skip' | bzip2 > "$1/files.lst.bz2.new"
  mv "$1/files.lst.bz2.new" "$1/files.lst.bz2"
}

# asset_stripes FILE MIB SEED : MIB MiB of what game archives hold, assets already compressed: three
# stripes of incompressible bytes to one of base64 text, a MiB each.
asset_stripes() {
  (
    set +o pipefail # head ends the generators early
    stripe() { head -c "$2" /dev/zero | openssl enc -aes-128-ctr -nosalt -pbkdf2 -pass "pass:vandrel-$3-$1" 2>/dev/null; }
    local i
    for i in $(seq 0 $(($2 - 1))); do
      if [ $((i % 4)) = 0 ]; then stripe "$i" 800000 "$3" | base64 -w 76 | head -c 1M; else stripe "$i" 1048576 "$3"; fi
    done > "$1"
  )
}
# The fresh-install benchmark's data: a 256 MiB archive of assets published with chunks. Sets
# chunks_set, chunks_sum.
install_chunks_data() {
  chunks_set=$VANDREL_BENCH_DATA/install-chunks-set
  chunks_sum=$VANDREL_BENCH_DATA/install-chunks.md5
  if [ ! -f "$chunks_set.complete" ]; then
    local client=$VANDREL_BENCH_DATA/install-chunks-client
    rm -rf "$chunks_set" "$client" && mkdir -p "$client/data"
    asset_stripes "$client/data/assets.pak" 256 chunks
    "$VANDREL_BENCH_BUILD/tools/vandrel-publish" "$client" "$chunks_set" --chunks --quiet >/dev/null
    md5sum < "$client/data/assets.pak" | cut -c1-32 > "$chunks_sum"
    rm -rf "$client"
    touch "$chunks_set.complete"
  fi
  cat "$chunks_set/data/assets.pak.bz2" > /dev/null
}

# The patch benchmarks' data: two Debian releases of real native programs and libraries (PostgreSQL 15,
# OpenSSL's libraries, Python's), fetched once with apt-get download, as a client at each version, and
# the update set of the second published with chunks and patches over the set of the first. Sets
# patch_dir (old/ and new/ clients, set/).
patch_data() {
  patch_dir=$VANDREL_BENCH_DATA/patch
  if [ ! -f "$patch_dir.complete" ]; then
    local start version deb
    start=$(date +%s.%N)
    rm -rf "$patch_dir" && mkdir -p "$patch_dir/debs"
    (cd "$patch_dir/debs" && apt-get download -qq postgresql-15=15.18-0+deb12u1 postgresql-15=15.20-0+deb12u1 \
      libssl3=3.0.20-1~deb12u2 libssl3=3.0.22-1~deb12u2 libpython3.11=3.11.2-6+deb12u8 \
      libpython3.11=3.11.2-6+deb12u9 2>/dev/null) || fail patch "apt-get download of the two releases failed"
    for version in old new; do
      mkdir -p "$patch_dir/$version"
      for deb in "$patch_dir"/debs/*.deb; do
        case "$deb:$version" in
          *15.18*:old|*3.0.20*:old|*deb12u8*:old|*15.20*:new|*3.0.22*:new|*deb12u9*:new)
            dpkg-deb -x "$deb" "$patch_dir/$version/unpacked" ;;
        esac
      done
      # The programs and libraries, as a game ships them: no documentation, no links.
      (cd "$patch_dir/$version/unpacked" && find usr -type f \( -name '*.so*' -o -path '*/bin/*' \) |
        while read -r file; do mkdir -p "../client/$(dirname "$file")"; cp "$file" "../client/$file"; done)
      rm -rf "$patch_dir/$version/unpacked"
    done
    "$VANDREL_BENCH_BUILD/tools/vandrel-publish" "$patch_dir/old/client" "$patch_dir/set" --chunks --quiet >/dev/null
    "$VANDREL_BENCH_BUILD/tools/vandrel-publish" "$patch_dir/new/client" "$patch_dir/set" --chunks --quiet >/dev/null
    (cd "$patch_dir/new/client" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs md5sum) > "$patch_dir/new.md5"
    touch "$patch_dir.complete"
    printf 'bench patch: data set made in %.1f s\n' "$(echo "$(date +%s.%N) - $start" | bc -l)" >&2
  fi
}
