#!/usr/bin/env bats
# Write errors a FUSE file system reports only at close: the zeros are cut
# off again, also where it kept only part of them.

load common

setup_file() {
	local cc=${CC:-cc}

	export LIMITFS=$BATS_FILE_TMPDIR/limitfs
	command -v "$cc" >/dev/null && pkg-config --exists fuse3 2>/dev/null &&
	    "$cc" -O2 -o "$LIMITFS" "$BATS_TEST_DIRNAME/limitfs.c" \
	    $(pkg-config --cflags --libs fuse3) 2>"$BATS_FILE_TMPDIR/cc.err" ||
	    : >"$LIMITFS.none"
}

setup() {
	cd "$BATS_TEST_TMPDIR" || return 1
	[ ! -e "$LIMITFS.none" ] ||
	    skip "cannot build limitfs.c (needs cc, pkg-config and libfuse3-dev): $(head -n 1 "$BATS_FILE_TMPDIR/cc.err")"
	mkdir m
}

teardown() {
	[ ! -d m ] || umount m 2>/dev/null || true
}

# mountfs MODE: mount limitfs, keeping 1 MiB, on m.
mountfs() {
	local err

	err=$("$LIMITFS" m 1048576 "$1" 2>&1) || skip "cannot mount FUSE: $err"
}

@test "a late write error is rolled back, and a padding that fits is made" {
	# Kept whole or in part, the zeros past what was there are cut off.
	for mode in late partial; do
		echo "# $mode"
		mountfs "$mode"
		mkfile o 8
		cp o m/o
		mkfile r $((3 * 1048576))
		pf m/o r
		want 1 "" "padfile: close: $(describe ENOSPC)"
		cmp m/o o.orig
		# The file system reports no size, so the padding is not
		# refused for want of free space.
		mkfile r 524288
		pf m/o r
		want 0 "padfile: wrote 524280 bytes to m/o." ""
		cp m/o o
		padded o 524288
		umount m
	done
}

@test "a write that takes part of a block is counted as what it took" {
	mountfs short
	mkfile o 8
	cp o m/o
	mkfile r 524288
	status=0
	timeout 20 strace -qq -o trace -e trace=write "$PADFILE" m/o r \
	    >stdout 2>stderr || status=$?
	want 0 "padfile: wrote 524280 bytes to m/o." ""
	cp m/o o
	padded o 524288
	# The file system took less than it was given.
	sed -nE 's/^write\([3-9], .*, ([0-9]+)\) += ([0-9]+)$/\1 \2/p' trace |
	    awk '$2 < $1 { n++ } END { exit !n }'
}
