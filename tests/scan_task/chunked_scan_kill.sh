#!/bin/sh
# A scan read in chunks, killed with SIGKILL midway and run again, gives exactly the rows of
# a scan that ran through: the chunks left unread are read by the second run, not only what
# lies above the highest stored article.
# Usage: chunked_scan_kill.sh BINDIR
set -eu
bin=$1
. "$(dirname "$0")/../support/testserver_run.sh"

# 12,000 lines over article numbers 1..299976 (four chunks of about 75,000 numbers), sent
# 100 lines at a time with a pause, so that the scan is still running when it is killed.
articles=12000
start_testserver --scan-group $articles --scan-step 25 --overview-pace-ms 100

group=alt.binaries.scan
setup() {
    "$bin/quillstream-cli" --home "$1" servers add 127.0.0.1 --port "$port" >/dev/null
    "$bin/quillstream-cli" --home "$1" subscribe $group --dir "$work/dl" >/dev/null
    "$bin/quillstream-cli" --home "$1" config Advanced ScanChunks 4 >/dev/null
}
# Every row but the header, sorted: the stored order differs with the order lines came in.
rows() { "$bin/quillstream-cli" --home "$1" list $group | tail -n +2 | sort; }
# The parts stored: the partcount column summed.
parts() { rows "$1" | awk -F'\t' '{ n += $3 } END { print n + 0 }'; }

setup "$work/whole"
"$bin/quillstream-cli" --home "$work/whole" --yes scan $group >"$work/whole.out" 2>&1 ||
    fail "uninterrupted scan: $(cat "$work/whole.out")"
rows "$work/whole" >"$work/whole.rows"
[ "$(parts "$work/whole")" -eq $articles ] || fail "uninterrupted scan stored $(parts "$work/whole") parts"

setup "$work/killed"
"$bin/quillstream-cli" --home "$work/killed" --yes scan $group >/dev/null 2>&1 &
scan_pid=$!
# Killed once the first lines are committed; read with sqlite3, which a scan's open write
# transaction does not hold up (the CLI's list waits for it).
db="$work/killed/data/$group.db"
stored=0
for _ in $(seq 1 400); do
    stored=$(sqlite3 -readonly "$db" "SELECT count(*) FROM MessageVars" 2>/dev/null || echo 0)
    [ "$stored" -gt 0 ] && break
    sleep 0.05
done
kill -9 "$scan_pid" 2>/dev/null || true
wait "$scan_pid" 2>/dev/null || true
stored=$(parts "$work/killed")
[ "$stored" -gt 0 ] || fail "nothing was stored before the kill"
[ "$stored" -lt $articles ] || fail "the scan ended before it could be killed"

"$bin/quillstream-cli" --home "$work/killed" --yes scan $group >"$work/again.out" 2>&1 ||
    fail "second scan: $(cat "$work/again.out")"
rows "$work/killed" >"$work/killed.rows"
diff "$work/whole.rows" "$work/killed.rows" >"$work/rows.diff" ||
    fail "the rows differ after the kill and a second scan: $(head -n 20 "$work/rows.diff")"
echo "chunked scan: killed with $stored of $articles parts stored; the second run completed it"
