#!/usr/bin/env bash
# Time padfile against dd and head -c, padding an empty file with zeros.
#
#   bench/pad-bench.sh [SIZE [DIR...]]
#
# SIZE is a byte count with an optional K, M or G suffix (powers of 1024);
# 1G by default. Each DIR is a folder on a file system to measure; by
# default a folder on /dev/shm, one under the build folder on disk and, as
# root, one on each of ext4, xfs and btrfs, made on loop images there
# (LOOPS=0 leaves those out). As root the page cache is written back and
# dropped before each run.
# PADFILE=path measures that binary instead of a fresh Release build;
# BASE=path measures another padfile too, as "base", to compare two
# versions in one run; ROUNDS=N sets the counted runs per tool (at least
# 5, 12 by default).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
rounds=${ROUNDS:-12}
[ "$rounds" -ge 5 ] || { echo "ROUNDS must be at least 5" >&2; exit 1; }

size=${1:-1G}
case $size in
*[Kk]) size=$((${size%?} * 1024)) ;;
*[Mm]) size=$((${size%?} * 1048576)) ;;
*[Gg]) size=$((${size%?} * 1073741824)) ;;
*[!0-9]* | "") echo "bad size: $size" >&2; exit 1 ;;
esac
shift $(($# > 0 ? 1 : 0))

[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)" >&2; exit 1; }
if [ -z "${PADFILE:-}" ]; then
	cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
	    -DBUILD_TESTING=OFF >/dev/null
	cmake --build "$build" >/dev/null
	PADFILE=$build/padfile
fi

dirs=("$@") loops=
if [ "${#dirs[@]}" -eq 0 ]; then
	mkdir -p "$build"
	dirs=(/dev/shm "$build")
	[ "$(id -u)" -ne 0 ] || [ "${LOOPS:-1}" = 0 ] || loops="ext4 xfs btrfs"
fi

work=() mounts=()
trap 'for m in "${mounts[@]}"; do umount "$m"; done; rm -rf "${work[@]}"' EXIT
for fs in $loops; do
	command -v "mkfs.$fs" >/dev/null ||
	    { echo "no mkfs.$fs: $fs left out"; continue; }
	img=$build/$fs.img
	work+=("$img" "$build/$fs")
	rm -f "$img"
	truncate -s $((3 * size + 1073741824)) "$img"
	"mkfs.$fs" -q "$img" >/dev/null
	mkdir -p "$build/$fs"
	mount -o loop "$img" "$build/$fs"
	mounts+=("$build/$fs")
	dirs+=("$build/$fs")
done

# run TOOL FILE: pad the empty FILE to $size with TOOL under GNU time, and
# print the wall time in nanoseconds and the peak RSS in KiB.
run() {
	local t0 t1 bin

	: >"$2"
	# What one run leaves dirty would decide the next one's time.
	sync
	[ ! -w /proc/sys/vm/drop_caches ] || echo 3 >/proc/sys/vm/drop_caches
	t0=$(date +%s%N)
	case $1 in
	padfile | base)
		[ "$1" = padfile ] && bin=$PADFILE || bin=$BASE
		/usr/bin/time -f %M -o "$2.rss" "$bin" "$2" "$2.r" >/dev/null
		;;
	dd)
		/usr/bin/time -f %M -o "$2.rss" dd if=/dev/zero of="$2" bs=1M \
		    count="$size" iflag=count_bytes oflag=append conv=notrunc \
		    status=none
		;;
	head)
		/usr/bin/time -f %M -o "$2.rss" \
		    sh -c 'exec head -c "$1" /dev/zero >>"$2"' sh "$size" "$2"
		;;
	esac
	t1=$(date +%s%N)
	[ "$(stat -c %s "$2")" -eq "$size" ] ||
	    { echo "$1 wrote $(stat -c %s "$2") bytes, not $size" >&2; exit 1; }
	echo "$((t1 - t0)) $(cat "$2.rss")"
}

# median, best: of the numbers on standard input, one a line.
median() {
	sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

best() {
	sort -n | head -n 1
}

tools=(padfile dd head)
orders=("0 1 2" "1 2 0" "2 0 1" "0 2 1" "2 1 0" "1 0 2")
if [ -n "${BASE:-}" ]; then
	tools+=(base)
	orders=("0 1 2 3" "1 2 3 0" "2 3 0 1" "3 0 1 2" "0 3 2 1" "3 2 1 0"
	    "2 1 0 3" "1 0 3 2")
fi
printf 'padding an empty file to %d bytes, median of %d interleaved runs\n\n' \
    "$size" "$rounds"
printf '%-32s %-8s %9s %7s %7s %13s %13s\n' folder tool "median s" \
    "best s" "GB/s" "peak RSS KiB" "padfile/tool"
for dir in "${dirs[@]}"; do
	d=$(mktemp -d "$dir/pad-bench.XXXXXX")
	work+=("$d")
	free=$(df -B1 --output=avail "$d" | tail -n 1)
	if [ "$free" -lt $((2 * size)) ]; then
		echo "$dir: only $free bytes free, skipped"
		continue
	fi
	truncate -s "$size" "$d/f.r"
	declare -A ns=() rss=()
	# One warm-up round, then the counted ones. The tools take turns in
	# every order in turn, so that each follows each other tool equally
	# often: a run after a slow one that freed the page cache (head's)
	# measured up to four times slower, on ext4, whichever tool it was.
	for ((i = 0; i <= rounds; i++)); do
		for j in ${orders[i % ${#orders[@]}]}; do
			t=${tools[j]}
			read -r n r < <(run "$t" "$d/f")
			if [ "$i" -gt 0 ]; then
				ns[$t]+="$n"$'\n'
				rss[$t]+="$r"$'\n'
			fi
		done
	done
	base=$(printf '%s' "${ns[padfile]}" | median)
	label="${dir#"$root"/} ($(df --output=fstype "$d" | tail -n 1))"
	for t in "${tools[@]}"; do
		m=$(printf '%s' "${ns[$t]}" | median)
		awk -v dir="$label" -v t="$t" -v m="$m" -v b="$base" \
		    -v f="$(printf '%s' "${ns[$t]}" | best)" -v s="$size" \
		    -v r="$(printf '%s' "${rss[$t]}" | median)" \
		    'BEGIN { printf "%-32s %-8s %9.3f %7.3f %7.2f %13d %13.2f\n",
		        dir, t, m / 1e9, f / 1e9, s / m, r, b / m }'
		label=
	done
	unset ns rss
	rm -rf "$d"
done
