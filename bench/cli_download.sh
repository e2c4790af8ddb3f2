#!/usr/bin/env bash
# Wall-clock download through the command line, as a user runs it: quillstream-testserver
# serves a generated corpus of MB MiB in alt.binaries.big on loopback, `quillstream-cli nzb`
# queues it and `download` fetches it on SLOTS thread slots. Prints time, throughput, the
# client's CPU and peak memory and the server's CPU; every file is checked by SHA-256.
#   bench/cli_download.sh BIN_DIR [MB] [SLOTS] [DEPTH]   (make build first; BIN_DIR
#   build-release/bin; DEPTH: BODY commands in flight per connection, default the setting's)
# On a virtual machine that hands freed memory back to its host (virtio free page reporting),
# every page-cache page the download writes may fault on the host first, and that shows as
# the client's system time, varying from run to run. To measure the program alone, hold the
# reporting back while benchmarking (as root; 9 is the usual value to restore):
#   echo 11 > /sys/module/page_reporting/parameters/page_reporting_order
set -euo pipefail
bin=${1:?usage: cli_download.sh BIN_DIR [MB] [SLOTS]}
mb=${2:-1024}
slots=${3:-6}
depth=${4:-}
source "$(dirname "$0")/cli_common.sh"
bench_work dl
bench_server "$bin" --seed 11 --big-mb "$mb" \
    --write-nzb "$work/all.nzb" --write-sha256 "$work/all.sha256"
# Only the big group's files: the benchmark measures large yEnc downloads.
python3 - "$work/all.nzb" "$work/big.nzb" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
files = re.findall(r'<file .*?</file>', text, re.S)
big = [f for f in files if '<group>alt.binaries.big</group>' in f]
head = text[:text.index('<file ')]
open(sys.argv[2], 'w').write(head + '\n'.join(big) + '\n</nzb>\n')
PY
cli="$bin/quillstream-cli --home $work/home"
$cli servers add 127.0.0.1 --port "$port" >/dev/null
$cli config Advanced BaseDir "$work/dl" >/dev/null
[ -z "$depth" ] || $cli config Advanced PipelineDepth "$depth" >/dev/null
for i in 0 1 2 3 4 5; do
    $cli config UseThreads "Thread$i" "$([ "$i" -lt "$slots" ] && echo 1 || echo 0)" >/dev/null
done
$cli --yes nzb "$work/big.nzb" >/dev/null 2>&1

server_cpu() { awk '{print $14 + $15}' "/proc/$server_pid/stat"; }
ticks=$(getconf CLK_TCK)
before=$(server_cpu)
${QS_BENCH_WRAP:-} /usr/bin/time -f "%e %U %S %M" -o "$work/time" $cli --yes download 2>"$work/download.err" ||
    { cat "$work/download.err" >&2; exit 1; }
after=$(server_cpu)
read -r wall user sys rss_kb <"$work/time"
bytes=$(du -sb "$work/dl" | cut -f1)
(cd "$work/dl" && find . -type f -exec sha256sum {} + | sed 's|  .*/|  |' | sort -k2) >"$work/got"
grep -F -f <(awk '{print "  "$2}' "$work/got") "$work/all.sha256" | sort -k2 >"$work/want"
cmp -s "$work/want" "$work/got" || { echo "SHA-256 mismatch" >&2; diff "$work/want" "$work/got" >&2; exit 1; }
python3 - "$wall" "$user" "$sys" "$rss_kb" "$bytes" "$before" "$after" "$ticks" "$slots" <<'PY'
import sys
wall, user, sys_, rss, size, before, after, ticks, slots = sys.argv[1:]
wall, user, sys_, size = float(wall), float(user), float(sys_), int(size)
gb = size / 1e9
server = (int(after) - int(before)) / int(ticks)
print(f"slots {slots}: {size/1e6:.0f} MB in {wall:.2f} s = {size/1e6/wall:.0f} MB/s; "
      f"client {(user+sys_)/gb:.2f} CPU-s/GB (user {user/gb:.2f}, system {sys_/gb:.2f}), server {server/gb:.2f} CPU-s/GB, "
      f"peak RSS {int(rss)/1024:.0f} MB; SHA-256 checked")
PY
