#!/usr/bin/env bats
# Failures part way through the padding leave the original as it was.

load common

teardown() {
	chattr -a o a 2>/dev/null || true
}

@test "the file-size limit is reported and the zeros rolled back" {
	mkfile o 100
	mkfile r $((5 * 1048576))
	status=0
	(ulimit -f 2048 && exec "$PADFILE" o r) >stdout 2>stderr || status=$?
	want 1 "" "padfile: write: $(describe EFBIG)"
	unchanged o r
}

@test "a full file system is refused before anything is written" {
	local err

	[ "$(id -u)" -eq 0 ] || skip "mounting a small file system needs root"
	mkdir fs
	err=$(unshare -m mount -t tmpfs tmpfs fs 2>&1) ||
	    skip "no tmpfs in a private mount namespace: $err"
	mkfile o 100
	mkfile r $((3 * 1048576))
	unshare -m bash -c 'mount -t tmpfs -o size=1m tmpfs fs &&
	    cp o fs/o && b=$(stat -c %b fs/o) &&
	    { "$PADFILE" fs/o r >stdout 2>stderr; echo $? >rc
	    echo "$b $(stat -c %b fs/o)" >blocks; cp fs/o o; }'
	status=$(cat rc)
	want 1 "" "padfile: write: $(describe ENOSPC)"
	unchanged o r
	read -r b0 b1 <blocks
	[ "$b0" -eq "$b1" ]
}

@test "a roll-back that fails is reported as well" {
	mkfile o 100
	mkfile r $((3 * 1048576))
	err=$(chattr +a o 2>&1) || skip "no append-only attribute: $err"
	status=0
	(ulimit -f 1024 && exec "$PADFILE" o r) >stdout 2>stderr || status=$?
	printf '%s\n' "padfile: write: $(describe EFBIG)" \
	    "padfile: ftruncate: $(describe EPERM)" | cmp - stderr
	[ "$status" -eq 1 ]
	[ ! -s stdout ]
	[ "$(stat -c %s o)" -eq 1048576 ]
	cmp -n 100 o o.orig
	# Where nothing landed there is nothing to cut, and no more to say.
	mkfile a 1048576
	chattr +a a
	status=0
	(ulimit -f 1024 && exec "$PADFILE" a r) >stdout 2>stderr || status=$?
	want 1 "" "padfile: write: $(describe EFBIG)"
	unchanged a r
}

@test "bytes another writer appends meanwhile are not cut, and that is said" {
	mkfile o 10
	mkfile r $((3 * 1048576))
	# After the first block the run waits a second, in which another
	# writer appends; then the third block fails.
	strace -f -qq -o /dev/null -e inject=rt_sigpending:delay_enter=1s:when=2 \
	    -e inject=write:error=ENOSPC:when=3 "$PADFILE" o r >stdout 2>stderr &
	grown o 10
	printf x >>o
	status=0
	wait "$!" || status=$?
	want 1 "" "padfile: write: $(describe ENOSPC)
padfile: ftruncate: $(describe ECANCELED)"
	[ "$(stat -c %s o)" -eq $((10 + 1 + 2 * 1048576)) ]
	cmp -n 10 o o.orig
	unchanged r
}

@test "a copy-up past the file-size limit on overlayfs is reported" {
	[ "$(id -u)" -eq 0 ] || skip "mounting overlayfs needs root"
	mkdir lower upper work m
	mkfile lower/o $((2 * 1048576))
	mkfile r $((3 * 1048576))
	mnt='mount -t overlay overlay -o lowerdir=lower,upperdir=upper,workdir=work m'
	err=$(unshare -m sh -c "$mnt" 2>&1) || skip "no overlayfs: $err"
	status=0
	unshare -m sh -c "$mnt"' && ulimit -f 1024 && exec "$PADFILE" m/o r' \
	    >stdout 2>stderr || status=$?
	want 1 "" "padfile: open: $(describe EFBIG)"
	unchanged lower/o r
	[ ! -e upper/o ]
}
