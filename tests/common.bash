# Helpers shared by the padfile suite.

: "${PADFILE:=$BATS_TEST_DIRNAME/../build/padfile}"
# The messages carry the name the tool runs under: run it as padfile,
# whatever its file is called.
if [ "${PADFILE##*/}" != padfile ] || [ "${PADFILE#/}" = "$PADFILE" ]; then
	mkdir -p "$BATS_RUN_TMPDIR/bin"
	ln -sf "$(realpath "$PADFILE")" "$BATS_RUN_TMPDIR/bin/padfile"
	PADFILE=$BATS_RUN_TMPDIR/bin/padfile
fi
export PADFILE
# Much of the suite runs the tool under strace, where LeakSanitizer cannot
# work; the tool allocates nothing of its own.
export ASAN_OPTIONS=detect_leaks=0

setup() {
	cd "$BATS_TEST_TMPDIR" || return 1
}

# describe ERRNO: the text the tool's own C library gives for an errno
# name, read off a run whose first lseek fails with it; perl's, from the
# host's C library, only where strace cannot fail the call.
describe() {
	local f=$BATS_RUN_TMPDIR/describe.$1 out

	if [ ! -s "$f" ]; then
		: >"$BATS_RUN_TMPDIR/describe"
		out=$(strace -qq -o /dev/null \
		    -e "inject=/^(_llseek|lseek)\$:error=$1:when=1" "$PADFILE" \
		    "$BATS_RUN_TMPDIR/describe" "$BATS_RUN_TMPDIR/describe" \
		    2>&1) || true
		if [[ $out == "padfile: lseek: "* && $out != *$'\n'* ]]; then
			printf '%s' "${out#padfile: lseek: }" >"$f"
		else
			perl -MPOSIX -e '$! = &{"POSIX::$ARGV[0]"}; print "$!"' \
			    "$1" >"$f"
		fi
	fi
	cat "$f"
}

# mkfile NAME SIZE: SIZE bytes that are not zeros, with a copy NAME.orig to
# compare against afterwards.
mkfile() {
	yes padfile | head -c "$2" >"$1"
	cp "$1" "$1.orig"
}

# pf ARG...: run the tool, capturing both streams byte for byte; a hang
# shows as status 124.
pf() {
	status=0
	timeout 20 "$PADFILE" "$@" >stdout 2>stderr || status=$?
}

# pf_as NAME ARG...: the same with NAME as argv[0].
pf_as() {
	status=0
	timeout 20 bash -c 'exec -a "$0" "$PADFILE" "$@"' "$@" \
	    >stdout 2>stderr || status=$?
}

# stream FILE TEXT: FILE holds TEXT and a newline, or nothing for "".
stream() {
	if [ -z "$2" ]; then
		[ ! -s "$1" ] && return 0
	else
		printf '%s\n' "$2" | cmp -s - "$1" && return 0
	fi
	printf '%s is: %s\nwant: %s\n' "$1" "$(cat -A "$1")" "$2"
	return 1
}

# want STATUS STDOUT STDERR: the last run's outcome.
want() {
	local bad=0

	[ "$status" -eq "$1" ] || { echo "status $status, want $1"; bad=1; }
	stream stdout "$2" || bad=1
	stream stderr "$3" || bad=1
	return "$bad"
}

# unchanged FILE...: each FILE holds exactly what FILE.orig holds.
unchanged() {
	local f

	for f; do
		cmp "$f" "$f.orig" || return 1
	done
}

# padded FILE SIZE: FILE is FILE.orig followed by zeros, SIZE bytes in all.
padded() {
	local n

	n=$(stat -c %s "$1.orig")
	[ "$(stat -c %s "$1")" -eq "$2" ] || {
		echo "$1 has $(stat -c %s "$1") bytes, want $2"
		return 1
	}
	cmp -n "$n" "$1" "$1.orig" &&
	    cmp <(tail -c +"$((n + 1))" "$1") <(head -c "$(($2 - n))" /dev/zero)
}

# grown FILE SIZE: wait, 10 s at most, until FILE holds more than SIZE
# bytes, as it does once the first block of a slowed padding has landed.
grown() {
	local i

	for ((i = 0; i < 1000; i++)); do
		[ "$(stat -c %s "$1")" -le "$2" ] || return 0
		sleep 0.01
	done
	return 1
}

# unpriv CMD...: CMD as an unprivileged user, so that permissions hold even
# when the suite runs as root.
unpriv() {
	if [ "$(id -u)" -eq 0 ]; then
		setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
	else
		"$@"
	fi
}

# nth PATTERN ARG...: the name of the first system call matching PATTERN in
# a run of the tool with ARG..., and its number as strace's when= counts.
nth() {
	local pat=$1

	shift
	strace -f -qq -o nth.trace "$PADFILE" "$@" >/dev/null 2>&1 || true
	awk -v pat="$pat" '{ sub(/^[0-9]+ +/, ""); n = $0; sub(/\(.*/, "", n)
	    c[n]++ } $0 ~ pat { print n, c[n]; exit }' nth.trace
}

# holding PID FILE: wait, 10 s at most, until PID or a process below it
# holds FILE open, as the tool holds the original once it has measured it.
holding() {
	local i

	for ((i = 0; i < 1000; i++)); do
		holds "$1" "$2" && return 0
		sleep 0.01
	done
	return 1
}

# holds PID FILE: whether PID or a process below it holds FILE open now.
holds() {
	local c fd

	for fd in /proc/"$1"/fd/*; do
		[ "$(readlink "$fd")" != "$2" ] || return 0
	done
	for c in $(cat "/proc/$1/task/$1/children" 2>/dev/null); do
		holds "$c" "$2" && return 0
	done
	return 1
}

# nowrite: the strace log "trace" shows nothing reserved or written to the
# original.
nowrite() {
	[ "$(grep -cE '^[0-9 ]*(write\([3-9]|fallocate)' trace)" -eq 0 ]
}
