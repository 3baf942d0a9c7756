#!/usr/bin/env bats
# Failures part way through the padding leave the original as it was.

load common

teardown() {
	[ ! -e o ] || chattr -a o 2>/dev/null || true
}

@test "the file-size limit is reported and the zeros rolled back" {
	mkfile o 100
	mkfile r $((5 * 1048576))
	status=0
	(ulimit -f 2048 && exec "$PADFILE" o r) >stdout 2>stderr || status=$?
	want 1 "" "padfile: write: File too large"
	unchanged o r
}

@test "a full file system is reported and the zeros rolled back" {
	[ "$(id -u)" -eq 0 ] || skip "mounting a small file system needs root"
	mkdir fs
	unshare -m mount -t tmpfs tmpfs fs 2>/dev/null ||
	    skip "no tmpfs in a private mount namespace"
	mkfile o 100
	mkfile r $((3 * 1048576))
	unshare -m bash -c 'mount -t tmpfs -o size=1m tmpfs fs &&
	    cp o fs/o && { "$PADFILE" fs/o r >stdout 2>stderr; echo $? >rc;
	    cp fs/o o; }'
	status=$(cat rc)
	want 1 "" "padfile: write: No space left on device"
	unchanged o r
}

@test "a roll-back that fails is reported as well" {
	mkfile o 100
	mkfile r $((3 * 1048576))
	chattr +a o 2>/dev/null || skip "no append-only attribute here"
	status=0
	(ulimit -f 1024 && exec "$PADFILE" o r) >stdout 2>stderr || status=$?
	printf '%s\n' "padfile: write: File too large" \
	    "padfile: ftruncate: Operation not permitted" | cmp - stderr
	[ "$status" -eq 1 ]
	[ ! -s stdout ]
	[ "$(stat -c %s o)" -eq 1048576 ]
	cmp -n 100 o o.orig
	unchanged r
}
