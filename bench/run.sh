#!/usr/bin/env bash
# Speed and memory of both roads against the physical reference (cp) and the
# tool a user would otherwise reach for (ffmpeg's remux), in one run.
#
# Builds the program (Release), generates three 704x576 streams of each of
# the given sizes with `kestrum generate`: the default realistic mix (2
# Mbit/s, a start group every 25 groups, mostly one video block per group;
# named by its size, "100M"), one of one video block per group (--one-block;
# "100M-1blk"), whose output is about the size of its input, and one of the
# largest groups the format allows, 255 blocks of 499999 bytes, 127.5 MB
# each (--largest-blocks 255; "100M-255blk", at least one group). Then
# times, side by side, in --repeat rounds of every case (each round
# starting one case later):
#   - the file road:  kestrum convert IN F.asf
#   - the live road:  kestrum record IN L.asf --piece-size 4096 | group,
#     and with 4 KiB pieces and --sync-interval 0 (the writer syncs nothing:
#     what the default policy, a sync a second and at the end, costs)
#   - cp IN, cp F.asf and cp L.asf (the same bytes read and written by cp)
#   - cat F.asf > OUT (the same bytes through a program's own buffer)
#   - ffmpeg -i F.asf -map 0 -c copy -f asf COPY.asf
#   - kestrum repair --check CUT.asf: F.asf cut 40000 bytes short and its
#     header's Broadcast set, with all of it noted durable, as a recording
#     killed right after a sync would leave it (repair leaves a file that
#     says it ended as it is); the check reads what a repair reads (the
#     header and the packets' heads) and writes nothing, so every round
#     finds the same file
#   - the packet source alone: bench/packet_walk.c over the build's library
#     fetches every packet of IN, as the file road does, with no writer
#   - the host's thread on the live road: bench/live_host.c records IN
#     through the exports in 4 KiB pieces from memory, with syncing on
#     (1000 ms) and off (0), and times its SendOneFrame calls, StopRecord
#     and ReleaseRecordInstance apart (a table of its own)
#   - the live road in 1-byte pieces (kestrum record IN L.asf --piece-size 1)
#     over two streams of --pieces-size (default 2M): one of the default mix
#     ("pieces-normal") and tag-filled junk, the 40-byte header and then
#     01 00 00 00 over and over ("pieces-junk"), where the reassembly buffer
#     fills to its 1,024,000 bytes, searched after every byte, and is
#     emptied; the junk may cost only a few times the normal stream
#   - with --before REV: the file road, the live road (4 KiB, and 1-byte
#     pieces over the normal stream: over the junk REV may take minutes) and
#     the packet source of REV's program as well, built beside
#     (build/bench/before), in the same rounds
# The streams of the largest groups take only the packet source's cases (the
# writer takes no sample of 16 MiB or more). Writes a markdown table of
# medians, peak RSS and the ratios.
#
# Page cache: every case runs warm. Before each one, the case's input is read
# once (untimed), so each case reads from memory and writes into the page
# cache; each output is removed right after its run (untimed), so it is never
# written back to the disk and only the inputs stay cached. The time to write
# the page cache back is thus not counted. --fsync counts it: each case's
# output is then fsync'ed inside the timed span.
#
# Usage: bench/run.sh [--sizes 100M,1G] [--repeat 5] [--out bench/results.md]
#                     [--pieces-size 2M] [--before REV] [--fsync] [--keep]
#                     [--no-build]
# Sizes take K, M, G (binary) suffixes; --pieces-size 0 leaves out the
# 1-byte pieces. Data go to build/bench/data and are removed at the end
# unless --keep.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

sizes=100M,1G
pieces_size=2M
repeat=5
out=bench/results.md
fsync=0
keep=0
build=1
before=
while (($#)); do
  case $1 in
    --before) before=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --pieces-size) pieces_size=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --fsync) fsync=1; shift ;;
    --keep) keep=1; shift ;;
    --no-build) build=0; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench/run.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done
[[ $repeat =~ ^[1-9][0-9]*$ ]] || { echo "bench/run.sh: --repeat wants a count" >&2; exit 2; }

build_dir=build/bench/release
data=build/bench/data
kestrum=$build_dir/tools/kestrum
walk=$build_dir/packet_walk
live_host=$build_dir/live_host
quarnel=$PWD/$build_dir/quarnel/libquarnel.so

# --- tools ------------------------------------------------------------------
need_packages=()
[ -x /usr/bin/time ] || need_packages+=(time)
command -v ffmpeg >/dev/null || need_packages+=(ffmpeg)
if ((build)); then
  command -v cmake >/dev/null || need_packages+=(cmake)
  command -v ninja >/dev/null || need_packages+=(ninja-build)
  command -v g++ >/dev/null || need_packages+=(g++)
fi
((${#need_packages[@]} == 0)) || scripts/install-deps.sh --only "${need_packages[@]}"
have_ffmpeg=0
command -v ffmpeg >/dev/null && have_ffmpeg=1

if ((build)); then
  echo "== Building (Release) in $build_dir"
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRUM_BUILD_TESTS=OFF \
    >/dev/null
  cmake --build "$build_dir" -j2 --target kestrum_cli quarnel >/dev/null
  cc -O2 -o "$walk" bench/packet_walk.c -Iquarnel/include -ldl
  cc -O2 -o "$live_host" bench/live_host.c -Iinclude -L"$build_dir/src" -lkestrum \
    -Wl,-rpath,"$PWD/$build_dir/src"
fi
for f in "$kestrum" "$walk" "$live_host"; do
  [ -x "$f" ] || { echo "bench/run.sh: no $f (run without --no-build)" >&2; exit 1; }
done
kestrum_before=
quarnel_before=
if [ -n "$before" ]; then
  before_commit=$(git rev-parse --verify "$before^{commit}")
  before_dir=build/bench/before
  echo "== Building the program before, $before ($before_commit), in $before_dir"
  rm -rf "$before_dir/src"
  mkdir -p "$before_dir/src"
  git archive "$before_commit" | tar -x -C "$before_dir/src"
  cmake -S "$before_dir/src" -B "$before_dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKESTRUM_BUILD_TESTS=OFF >/dev/null
  cmake --build "$before_dir/build" -j2 --target kestrum_cli quarnel >/dev/null
  kestrum_before=$before_dir/build/tools/kestrum
  quarnel_before=$PWD/$before_dir/build/quarnel/libquarnel.so
fi

mkdir -p "$data"
raw=$data/raw.tsv
: >"$raw"
host_raw=$data/host.tsv
: >"$host_raw"
cleanup() {
  if ((keep == 0)); then
    rm -f "$data"/*.xqv "$data"/*.asf "$data"/*.tmp
  fi
}
trap cleanup EXIT

# --- helpers ----------------------------------------------------------------
bytes_of() {  # 100M -> 104857600
  local n=${1%[KkMmGg]} unit=${1: -1}
  [[ $n =~ ^[0-9]+$ ]] || { echo "bench/run.sh: bad size '$1'" >&2; exit 2; }
  case $unit in
    K|k) echo $((n << 10)) ;;
    M|m) echo $((n << 20)) ;;
    G|g) echo $((n << 30)) ;;
    *) echo "$1" ;;
  esac
}
now_us() { echo "${EPOCHREALTIME/./}"; }
file_size() { stat -c %s "$1"; }

# time_case SIZE CASE WARM CMD...: one timed run writing $run_out. WARM is read
# once before (page cache warm) and $run_out removed after (untimed); with
# --fsync, $run_out is synced inside the timed span. Appends SIZE CASE wall_us
# rss_kb in_bytes out_bytes cpu_s (user + system) to the raw runs.
# The file's header made as a killed recording's: Broadcast set and every
# byte noted durable (the File Properties object comes first, at byte 30:
# its File Size field at 70, its flags at 118).
unend() {
  local size i bytes=""
  size=$(file_size "$1")
  for i in 0 1 2 3 4 5 6 7; do bytes+=$(printf '\\x%02x' $(((size >> (8 * i)) & 255))); done
  printf "$bytes" | dd of="$1" bs=1 seek=70 conv=notrunc status=none
  printf '\x03' | dd of="$1" bs=1 seek=118 conv=notrunc status=none
}

time_case() {
  local size=$1 name=$2 warm=$3
  shift 3
  rm -f "$run_out"
  sync
  cat "$warm" >/dev/null
  local t0 t1
  t0=$(now_us)
  if ! /usr/bin/time -f '%M %U %S' -o "$data/rss.tmp" "$@" >/dev/null 2>"$data/err.tmp"; then
    echo "bench/run.sh: failed: $*" >&2
    cat "$data/err.tmp" >&2
    exit 1
  fi
  ((fsync == 0)) || sync "$run_out"
  t1=$(now_us)
  local rss user sys
  read -r rss user sys < <(tail -n1 "$data/rss.tmp")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$size" "$name" $((t1 - t0)) "$rss" \
    "$(file_size "$warm")" "$(file_size "$run_out")" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" \
    >>"$raw"
  # Gone before the next case: only the inputs stay in the page cache, and
  # a removed output is never written back to the disk.
  rm -f "$run_out"
}

# host_case SIZE CASE INTERVAL_MS: one run of bench/live_host.c into
# $run_out, warm as time_case runs; appends SIZE CASE and its three spans
# (us) to the host runs.
host_case() {
  rm -f "$run_out"
  sync
  cat "$in" >/dev/null
  local spans
  spans=$("$live_host" "$in" "$run_out" "$3") ||
    { echo "bench/run.sh: failed: live_host $in" >&2; exit 1; }
  printf '%s\t%s\t%s\n' "$1" "$2" "${spans// /$'\t'}" >>"$host_raw"
  rm -f "$run_out"
}

# --- streams ----------------------------------------------------------------
gen_options=(--size 704x576 --random-state 1)
probe_frames=2000
probe_bytes=$("$kestrum" generate - --frames $probe_frames "${gen_options[@]}" | wc -c)
IFS=, read -r -a size_list <<<"$sizes"
streams=()  # names: SIZE (the mix) and SIZE-1blk (one video block per group)
for s in "${size_list[@]}"; do
  target=$(bytes_of "$s")
  frames=$(( (target - 40) * probe_frames / (probe_bytes - 40) ))
  ((frames > 0)) || frames=1
  echo "== Generating $data/$s.xqv: $frames groups (about $s)"
  "$kestrum" generate "$data/$s.xqv" --frames "$frames" "${gen_options[@]}" >/dev/null
  one_bytes=$("$kestrum" generate - --frames $probe_frames "${gen_options[@]}" --one-block | wc -c)
  frames=$(( (target - 40) * probe_frames / (one_bytes - 40) ))
  ((frames > 0)) || frames=1
  echo "== Generating $data/$s-1blk.xqv: $frames groups of one video block (about $s)"
  "$kestrum" generate "$data/$s-1blk.xqv" --frames "$frames" "${gen_options[@]}" --one-block \
    >/dev/null
  largest=$((48 + 255 * (20 + 499999)))
  frames=$(( (target - 40) / largest ))
  ((frames > 0)) || frames=1
  echo "== Generating $data/$s-255blk.xqv: $frames groups of 255 blocks of 499999 bytes"
  "$kestrum" generate "$data/$s-255blk.xqv" --frames "$frames" "${gen_options[@]}" \
    --largest-blocks 255 >/dev/null
  streams+=("$s" "$s-1blk" "$s-255blk")
done
pieces_bytes=$(bytes_of "$pieces_size")
if ((pieces_bytes > 0)); then
  frames=$(( (pieces_bytes - 40) * probe_frames / (probe_bytes - 40) ))
  ((frames > 0)) || frames=1
  echo "== Generating $data/pieces-normal.xqv ($frames groups) and $data/pieces-junk.xqv (start codes), about $pieces_size each"
  "$kestrum" generate "$data/pieces-normal.xqv" --frames "$frames" "${gen_options[@]}" >/dev/null
  { head -c 40 "$data/pieces-normal.xqv"
    perl -e 'print "\x01\x00\x00\x00" x ($ARGV[0] / 4)' "$(($(file_size "$data/pieces-normal.xqv") - 40))"
  } >"$data/pieces-junk.xqv"
  streams+=(pieces-normal pieces-junk)
fi
table_sizes=$(IFS=,; echo "${streams[*]}")

# --- runs -------------------------------------------------------------------
cases=(convert record-4k record-4k-nosync record-group cp-in cp-file-out cp-live-out cat-file-out repair source
  host-4k host-4k-nosync)
[ -n "$kestrum_before" ] && cases+=(convert-before record-4k-before source-before)
((have_ffmpeg)) && cases+=(ffmpeg)
source_cases=(source)  # the streams of the largest groups
[ -n "$kestrum_before" ] && source_cases+=(source-before)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
run_out=$data/run.tmp  # every timed case writes here
for s in "${streams[@]}"; do
  in=$data/$s.xqv
  f=$data/$s-file.asf
  l4=$data/$s-live4k.asf
  cut=$data/$s-cut.asf
  lg=$data/$s-livegroup.asf
  these=("${cases[@]}")
  [[ $s == *-255blk ]] && these=("${source_cases[@]}")
  if [[ $s == pieces-* ]]; then
    these=(record-1b)
    [[ $s == pieces-normal && -n $kestrum_before ]] && these+=(record-1b-before)
  fi
  # The outputs the cp and ffmpeg cases read, made once before timing. The
  # 4 KiB and whole-group recordings must hold the same samples.
  if [[ $s != *-255blk && $s != pieces-* ]]; then
    "$kestrum" convert "$in" "$f" >/dev/null
    "$kestrum" record "$in" "$l4" --piece-size 4096 >/dev/null
    head -c $(($(file_size "$f") - 40000)) "$f" >"$cut"
    unend "$cut"
  fi
  if ((have_ffmpeg)) && [[ $s != *-255blk && $s != pieces-* ]]; then
    "$kestrum" record "$in" "$lg" --piece-size group >/dev/null
    a=$(ffmpeg -nostdin -v error -i "$l4" -map 0 -c copy -f framemd5 - | grep -v '^#' | md5sum)
    b=$(ffmpeg -nostdin -v error -i "$lg" -map 0 -c copy -f framemd5 - | grep -v '^#' | md5sum)
    rm -f "$lg"
    [ "$a" = "$b" ] || { echo "bench/run.sh: 4 KiB and group recordings differ" >&2; exit 1; }
  fi
  for ((r = 1; r <= repeat; r++)); do
    echo "== $s: round $r of $repeat"
    # Each round starts one case later, so that no case always follows the
    # same one (what a case leaves in the page cache affects the next).
    for ((i = 0; i < ${#these[@]}; i++)); do
      c=${these[(i + r - 1) % ${#these[@]}]}
      case $c in
        convert) time_case "$s" "$c" "$in" "$kestrum" convert "$in" "$run_out" ;;
        record-4k) time_case "$s" "$c" "$in" "$kestrum" record "$in" "$run_out" --piece-size 4096 ;;
        record-4k-nosync)
          time_case "$s" "$c" "$in" "$kestrum" record "$in" "$run_out" --piece-size 4096 \
            --sync-interval 0 ;;
        record-group) time_case "$s" "$c" "$in" "$kestrum" record "$in" "$run_out" --piece-size group ;;
        record-1b) time_case "$s" "$c" "$in" "$kestrum" record "$in" "$run_out" --piece-size 1 ;;
        record-1b-before)
          time_case "$s" "$c" "$in" "$kestrum_before" record "$in" "$run_out" --piece-size 1 ;;
        cp-in) time_case "$s" "$c" "$in" cp "$in" "$run_out" ;;
        cp-file-out) time_case "$s" "$c" "$f" cp "$f" "$run_out" ;;
        cp-live-out) time_case "$s" "$c" "$l4" cp "$l4" "$run_out" ;;
        cat-file-out) time_case "$s" "$c" "$f" sh -c 'cat "$1" >"$2"' cat "$f" "$run_out" ;;
        convert-before) time_case "$s" "$c" "$in" "$kestrum_before" convert "$in" "$run_out" ;;
        record-4k-before)
          time_case "$s" "$c" "$in" "$kestrum_before" record "$in" "$run_out" --piece-size 4096 ;;
        ffmpeg)
          time_case "$s" "$c" "$f" ffmpeg -nostdin -v error -y -i "$f" -map 0 -c copy -f asf "$run_out" ;;
        repair)
          time_case "$s" "$c" "$cut" sh -c '"$1" repair --check "$2" >"$3"' repair "$kestrum" \
            "$cut" "$run_out" ;;
        source) time_case "$s" "$c" "$in" "$walk" "$quarnel" "$in" "$run_out" ;;
        host-4k) host_case "$s" "$c" 1000 ;;
        host-4k-nosync) host_case "$s" "$c" 0 ;;
        source-before) time_case "$s" "$c" "$in" "$walk" "$quarnel_before" "$in" "$run_out" ;;
      esac
    done
  done
  # This size's streams leave the page cache before the next size's runs.
  ((keep)) || rm -f "$in" "$f" "$l4" "$cut"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# --- table ------------------------------------------------------------------
mkdir -p "$(dirname "$out")"
commit=$(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
{
  echo "# Kestrum benchmark"
  echo
  echo "Command: \`bench/run.sh --sizes $sizes --repeat $repeat$( [ "$pieces_size" != 2M ] && echo " --pieces-size $pieces_size")$( [ -n "$before" ] && echo " --before $before")$( ((fsync)) && echo ' --fsync')\`"
  echo "at $commit, $(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores ($cpu), $(uname -sr);"
  echo "load average $load_before before, $load_after after."
  echo
  if ((fsync)); then
    echo "Page cache: input read once before each case (untimed); the output is fsync'ed"
    echo "inside the timed span, so disk write-back is counted."
  else
    echo "Page cache: warm. Input read once before each case (untimed); outputs go to the page"
    echo "cache and are removed after each run, so write-back to the disk is not counted."
  fi
  echo "Wall time: median of $repeat rounds of every case, each round starting one case later"
  echo "(min-max beside it). MB = 10^6 bytes; MB/s counts the bytes each case reads. CPU: user +"
  echo "system seconds (median), which other work on the machine disturbs less than wall time."
  echo "Peak RSS: the largest of the runs."
  echo
  [ -n "$before" ] && echo "Before: $before ($before_commit), built beside as $kestrum_before." && echo
  awk -F'\t' -v sizes="$table_sizes" -v have_ffmpeg="$have_ffmpeg" -f bench/table.awk "$raw"
  echo
  echo "The host's thread on the live road (bench/live_host.c, 4 KiB pieces from memory):"
  echo "median ms in its SendOneFrame calls, StopRecord and ReleaseRecordInstance, synced"
  echo "(the default 1000 ms) and not (0), and synced / not for the time until StopRecord"
  echo "returned (the file ended) and for all three."
  echo
  echo "| Stream | synced: send | stop | release | not synced: send | stop | release | to the end, synced / not | all three |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  for s in "${streams[@]}"; do
    [[ $s == *-255blk || $s == pieces-* ]] && continue
    for c in host-4k host-4k-nosync; do  # the medians of the three spans
      for k in 3 4 5; do
        awk -F'\t' -v s="$s" -v c="$c" -v k="$k" '$1 == s && $2 == c { print $k }' "$host_raw" |
          sort -n | awk '{ v[NR] = $1 } END { print (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2 }'
      done
    done | paste -sd' ' | awk -v s="$s" '{
      printf "| %s | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f | %.2f | %.2f |\n", s, $1 / 1e3,
        $2 / 1e3, $3 / 1e3, $4 / 1e3, $5 / 1e3, $6 / 1e3, ($1 + $2) / ($4 + $5), ($1 + $2 + $3) / ($4 + $5 + $6) }'
  done
} >"$out"
cat "$out"
echo
echo "== Written: $out (raw runs: $raw)"
