#!/usr/bin/env bats
# Failures part way through the padding leave the original as it was.

load common

teardown() {
	chattr -a o a 2>/dev/null || true
}

@test "a padding past the file-size limit fails before anything is written" {
	mkfile o 100
	mkfile r $((5 * 1048576))
	status=0
	(ulimit -f 2048 && exec strace -f -qq -o trace -e trace=write,fallocate \
	    "$PADFILE" o r) >stdout 2>stderr || status=$?
	want 1 "" "padfile: write: $(describe EFBIG)"
	unchanged o r
	nowrite
	# A padding that ends at the limit is within it.
	mkfile r 2097152
	status=0
	(ulimit -f 2048 && exec "$PADFILE" o r) >stdout 2>stderr || status=$?
	want 0 "padfile: wrote 2097052 bytes to o." ""
	padded o 2097152
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
	strace -f -qq -o /dev/null -e inject=write:error=ENOSPC:when=2 \
	    "$PADFILE" o r >stdout 2>stderr || status=$?
	printf '%s\n' "padfile: write: $(describe ENOSPC)" \
	    "padfile: ftruncate: $(describe EPERM)" | cmp - stderr
	[ "$status" -eq 1 ]
	[ ! -s stdout ]
	[ "$(stat -c %s o)" -eq $((100 + 1048576)) ]
	cmp -n 100 o o.orig
	# Where nothing lands there is nothing to cut, and no more to say.
	mkfile a 1048576
	chattr +a a
	status=0
	(ulimit -f 1024 && exec "$PADFILE" a r) >stdout 2>stderr || status=$?
	want 1 "" "padfile: write: $(describe EFBIG)"
	unchanged a r
}

@test "a size another process left is not cut, and that is said" {
	mkfile r $((3 * 1048576))
	# While the second block is held up, another process appends to the
	# original, or cuts it below its size before the run; then that
	# block fails.
	for row in "printf x >>o:$((100 + 1048576 + 1))" "truncate -s 50 o:50"; do
		size=${row#*:}
		echo "# ${row%:*}"
		mkfile o 100
		strace -f -qq -o /dev/null \
		    -e inject=write:delay_enter=1s:error=ENOSPC:when=2 \
		    "$PADFILE" o r >stdout 2>stderr &
		grown o 100
		eval "${row%:*}"
		status=0
		wait "$!" || status=$?
		want 1 "" "padfile: write: $(describe ENOSPC)
padfile: ftruncate: $(describe ECANCELED)"
		[ "$(stat -c %s o)" -eq "$size" ]
		cmp -n $((size < 100 ? size : 100)) o o.orig
	done
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
