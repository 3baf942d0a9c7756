#!/usr/bin/env bats
# Each system call of a three-block padding, failed in turn: the run either
# fails, naming the call, with the original as it was, or the failure is
# harmless and the padding exact.

load common

setup() {
	cd "$BATS_TEST_TMPDIR" || return 1
	mkfile r $((3 * 1048576 + 5))
}

# The label a failure of system call $1, occurrence $2, is reported under.
# The C library's fstatvfs is the first fstatfs.
label() {
	case $1 in
	rt_sig*) echo "${1#rt_}" ;;
	openat) echo open ;;
	newfstatat | fstat64 | fstatat64 | statx) echo fstat ;;
	fstatfs | fstatfs64) [ "$2" -eq 1 ] && echo fstatvfs || echo fstatfs ;;
	_llseek) echo lseek ;;
	prlimit64 | ugetrlimit) echo getrlimit ;;
	writev) echo write ;;
	fcntl64 | ftruncate64) echo "${1%64}" ;;
	*) echo "$1" ;;
	esac
}

# calls FROM STRACE-OPTION...: the calls a run of "padfile o r" makes from
# the first one matching FROM on, as "name occurrence call", numbered the
# way strace's when= counts them. Calls that only the C library or a
# sanitizer makes of its own accord (memory, randomness) are left out.
calls() {
	local from=$1

	shift
	mkfile o 10
	strace -f -qq -o trace "$@" "$PADFILE" o r >/dev/null 2>&1 || true
	awk -v from="$from" '{ sub(/^[0-9]+ +/, ""); n = $0; sub(/\(.*/, "", n) }
	    $0 ~ from { on = 1 } { c[n]++ }
	    on && n ~ /^(rt_sig[a-z]+|fcntl(64)?|openat|open|newfstatat|fstat(64)?|fstatat64|statx|fstatfs(64)?|prlimit64|u?getrlimit|_?llseek|lseek|fallocate|ioctl|close|dup|writev?|ftruncate(64)?)$/ {
	    print n, c[n], $0 }' trace
}

@test "a failure at any call is reported under its name and rolled back" {
	local name when call row fault spec err cases=0 seen=

	# The first row whose pattern matches a call gives, after the #, its
	# faults, each with the outcome: pass, either, or the error reported.
	# A data write must retry EINTR; so must the reserve, and where it
	# cannot be had the zeros are written without it. stdio's own look at
	# stdout, in whatever form its C library takes, may fail harmlessly,
	# and so may a write of the line that wrote nothing, since stdio
	# writes again.
	rows=(
	    '^write\([3-9],#EIO ENOSPC EFBIG EINTR:pass retval=0:EIO'
	    '^fallocate\(#EIO ENOSPC EDQUOT EFBIG EINTR:pass EOPNOTSUPP:pass ENOSYS:pass'
	    '^writev?\(1,#EIO retval=0:either'
	    '^(newfstatat|fstatat64|statx|fstat|fstat64|ioctl)\(1,#EIO:either'
	    '.#EIO'
	)
	while read -r name when call; do
		for row in "${rows[@]}"; do
			[[ $call =~ ${row%%#*} ]] && break
		done
		seen+=" $(label "$name" "$when")"
		for fault in ${row#*#}; do
			spec=${fault%%:*}
			[ "$spec" = retval=0 ] || spec=error=$spec
			err=${fault#*:}
			echo "# $name, call $when, $spec: $call"
			mkfile o 10
			status=0
			strace -f -qq -o /dev/null -e "inject=$name:$spec:when=$when" \
			    "$PADFILE" o r >stdout 2>stderr || status=$?
			[ "$err" != either ] || [ "$status" -ne 0 ] || err=pass
			if [ "$err" = pass ]; then
				want 0 "padfile: wrote 3145723 bytes to o." ""
				padded o $((3 * 1048576 + 5))
			else
				[ "$err" != either ] || err=EIO
				want 1 "" "padfile: $(label "$name" "$when"): $(describe "$err")"
				unchanged o
			fi
			unchanged r
			cases=$((cases + 1))
		done
	done < <(calls '^rt_sigaction\(SIGXFSZ')
	# tmpfs and xfs are not reserved on.
	need="sigaction fcntl open fstat lseek close getrlimit fstatvfs \
	    fstatfs sigprocmask write sigpending dup"
	case $(stat -f -c %T .) in
	tmpfs | xfs) ;;
	*) need+=" fallocate" ;;
	esac
	for name in $need; do
		[[ " $seen " == *" $name "* ]] || { echo "no $name call"; false; }
	done
	echo "# $cases cases"
	[ "$cases" -ge 55 ]
}

@test "a roll-back that cannot be done says so on a second line" {
	local name when call fault=(-e inject=write:error=ENOSPC:when=2) n=0

	while read -r name when call; do
		[[ $name != write* ]] || continue
		echo "# $name, call $when: $call"
		mkfile o 10
		status=0
		strace -f -qq -o /dev/null "${fault[@]}" \
		    -e "inject=$name:error=EIO:when=$when" "$PADFILE" o r \
		    >stdout 2>stderr || status=$?
		want 1 "" "padfile: write: $(describe ENOSPC)
padfile: $(label "$name" "$when"): $(describe EIO)"
		padded o $((10 + 1048576))
		unchanged r
		n=$((n + 1))
	done < <(calls ENOSPC "${fault[@]}")
	[ "$n" -eq 2 ]
}
