#!/usr/bin/env bash
# Wall-clock scan through the command line, as a user runs it: quillstream-testserver makes
# alt.binaries.scan of LINES overview lines on the fly on loopback, and `quillstream-cli
# scan` reads it into a fresh home's database with CHUNKS chunks (1: one connection).
# Prints time, lines per second, the client's CPU and peak memory, the server's CPU and the
# database's size, then checks the parts stored and the file's integrity.
#   bench/cli_scan.sh BIN_DIR [LINES] [CHUNKS]   (make build first; BIN_DIR build-release/bin)
set -euo pipefail
bin=${1:?usage: cli_scan.sh BIN_DIR [LINES] [CHUNKS]}
lines=${2:-1000000}
chunks=${3:-1}
source "$(dirname "$0")/cli_common.sh"
bench_work scan
bench_server "$bin" --scan-group "$lines"
group=alt.binaries.scan
cli="$bin/quillstream-cli --home $work/home"
$cli servers add 127.0.0.1 --port "$port" >/dev/null
$cli config Advanced RetentionDays 0 >/dev/null
$cli config Advanced ScanChunks "$chunks" >/dev/null
$cli subscribe "$group" --dir "$work/dl" >/dev/null

server_cpu() { awk '{print $14 + $15}' "/proc/$server_pid/stat"; }
ticks=$(getconf CLK_TCK)
before=$(server_cpu)
/usr/bin/time -f "%e %U %S %M" -o "$work/time" $cli --yes scan "$group" >/dev/null 2>"$work/scan.err" ||
    { cat "$work/scan.err" >&2; exit 1; }
after=$(server_cpu)
read -r wall user sys rss_kb <"$work/time"
db="$work/home/data/$group.db"
integrity=$(sqlite3 -readonly "$db" "PRAGMA integrity_check")
parts=$(sqlite3 -readonly "$db" "SELECT sum(partcount) FROM Attachment")
db_kb=$(($(stat -c %s "$db") / 1024))
[ "$integrity" = ok ] || { echo "integrity check: $integrity" >&2; exit 1; }
[ "$parts" -eq "$lines" ] || { echo "$parts parts stored of $lines" >&2; exit 1; }
python3 - "$wall" "$user" "$sys" "$rss_kb" "$lines" "$before" "$after" "$ticks" "$chunks" "$db_kb" <<'PY'
import sys
wall, user, sys_, rss, lines, before, after, ticks, chunks, db_kb = sys.argv[1:]
wall, user, sys_, lines = float(wall), float(user), float(sys_), int(lines)
server = (int(after) - int(before)) / int(ticks)
print(f"chunks {chunks}: {lines} lines in {wall:.2f} s = {lines/wall/1e3:.0f} k lines/s; "
      f"client {user+sys_:.2f} CPU-s (user {user:.2f}, system {sys_:.2f}), server {server:.2f} CPU-s, "
      f"peak RSS {int(rss)/1024:.0f} MB; database {int(db_kb)/1024:.1f} MB, every part stored, integrity ok")
PY
