#!/usr/bin/env bats
# Operands and the display name.

load common

@test "any operand count but two gives the usage line and opens nothing" {
	mkfile o 3
	pf
	want 1 "" "Usage: padfile original replacement"
	pf o
	want 1 "" "Usage: padfile original replacement"
	pf o o nosuch
	want 1 "" "Usage: padfile original replacement"
	unchanged o
}

@test "the display name drops leading directories, and may be empty" {
	mkfile o 3
	pf_as /usr/local/bin/padfile
	want 1 "" "Usage: padfile original replacement"
	pf_as ./pad
	want 1 "" "Usage: pad original replacement"
	pf_as bin/
	want 1 "" "Usage:  original replacement"
	pf_as bin/ o o
	want 1 "" ": o is >= than o, no changes made."
	pf_as bin/ nosuch o
	want 1 "" ": open: $(describe ENOENT)"
	unchanged o
}

@test "an empty argument vector does not crash" {
	status=0
	perl -e 'exec {$ARGV[0]} ()' "$PADFILE" >stdout 2>stderr || status=$?
	# Linux since 5.18 passes an empty argv[0] instead of none.
	want 1 "" "Usage: padfile original replacement" ||
	    want 1 "" "Usage:  original replacement"
}

@test "operands starting with a hyphen, or holding %, are plain paths" {
	mkfile ./-- 3
	mkfile ./-r 10
	pf -- -r
	want 0 "padfile: wrote 7 bytes to --." ""
	padded ./-- 10
	mkfile %s%n%d 4
	pf %s%n%d -r
	want 0 "padfile: wrote 6 bytes to %s%n%d." ""
	padded %s%n%d 10
	unchanged ./-r
}
