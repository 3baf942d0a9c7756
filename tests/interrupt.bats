#!/usr/bin/env bats
# A signal during the padding ends the run with the signal's status and the
# original as it was; one the caller chose to ignore or block changes nothing.

load common

@test "an interrupt mid-pad rolls back and ends with the signal's status" {
	mkfile r $((16 * 1048576))
	# signal, how the caller leaves it, the status that follows.
	for row in "INT DEFAULT 130" "TERM DEFAULT 143" "HUP DEFAULT 129" \
	    "INT IGNORE 0" "TERM block 0"; do
		read -r sig how want <<<"$row"
		echo "# SIG$sig, $how"
		mkfile o 10
		rm -f pid
		# Each write is held up 40 ms, so that the signal lands mid-pad.
		timeout 60 strace -f -qq -o /dev/null \
		    -e inject=write:delay_enter=40ms perl -MPOSIX -e '
		    my ($sig, $how) = splice(@ARGV, 0, 2);
		    if ($how eq "block") {
			sigprocmask(SIG_BLOCK, POSIX::SigSet->new(&{"SIG$sig"}));
		    } else {
			$SIG{$sig} = $how;
		    }
		    open(my $f, ">", "pid") or die; print $f $$;
		    close($f) or die; exec(@ARGV) or die' \
		    "$sig" "$how" "$PADFILE" o r >stdout 2>stderr &
		grown o 10
		kill -s "$sig" "$(cat pid)"
		status=0
		wait "$!" || status=$?
		if [ "$want" -eq 0 ]; then
			want 0 "padfile: wrote 16777206 bytes to o." ""
			padded o $((16 * 1048576))
		else
			want "$want" "" ""
			unchanged o
		fi
	done
	unchanged r
}
