#!/bin/sh
# quillstream-cli against quillstream-testserver: import the corpus NZB and download it,
# killing the first download with SIGKILL midway; a second run finishes the interrupted
# entries and every file matches its SHA-256. Then scan and grab a group.
# With --tls the server speaks TLS with a self-signed certificate made here: the run above
# goes through it with verification off, and a strict check must refuse the certificate and
# say why.
# Usage: end_to_end.sh BINDIR [--tls]
set -eu
bin=$1
tls=${2:-}
. "$(dirname "$0")/../support/testserver_run.sh"

# The positional parameters hold the server's TLS arguments from here on.
set --
add_tls=
if [ "$tls" = --tls ]; then
    command -v openssl >/dev/null || { echo "skipped: no openssl command"; exit 77; }
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
        -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" \
        >"$work/openssl.out" 2>&1 || { cat "$work/openssl.out" >&2; fail "openssl req"; }
    set -- --tls "$work/cert.pem" "$work/key.pem"
    add_tls="--tls --verify 0"
fi

# Each reply is delayed, so the download is still running when it is killed.
start_testserver --seed 1 --big-mb 2 --delay-ms 150 "$@" \
    --write-nzb "$work/corpus.nzb" --write-sha256 "$work/corpus.sha256"

cli() { "$bin/quillstream-cli" --home "$work/home" "$@"; }
# shellcheck disable=SC2086 # $add_tls is empty or three words
cli servers add 127.0.0.1 --port "$port" $add_tls >/dev/null
# The corpus's .rar files are random bytes, not archives: verify sets, but do not unpack.
cli config Advanced PostProcess 1 >/dev/null
cli config Advanced BaseDir "$work/dl" >/dev/null
cli config Advanced AutoCreateDirs 1 >/dev/null
cli config Advanced NoAutoSubdir 1 >/dev/null

cli nzb "$work/corpus.nzb" || fail "nzb import"
files=$(grep -c . "$work/corpus.sha256")
queued=$(cli list queue | tail -n +2 | grep -c .)
[ "$queued" -eq "$files" ] || fail "queued $queued of $files files"

# Killed in the middle: whatever was being downloaded is still in the queue.
# The binary itself, not the cli function: $! of a function is a subshell, and killing that
# would leave the download running.
"$bin/quillstream-cli" --home "$work/home" download 2>/dev/null &
download_pid=$!
sleep 0.6
kill -9 "$download_pid" 2>/dev/null || true
wait "$download_pid" 2>/dev/null || true
# (Opening the queue through the CLI would already return them to queued.)
if command -v sqlite3 >/dev/null; then
    marked=$(sqlite3 "$work/home/data/queue.db" "SELECT count(*) FROM Attachment WHERE state=4")
    [ "$marked" -gt 0 ] || fail "no entry left marked downloading"
fi
left=$(cli list queue | tail -n +2 | grep -c . || true)
[ "$left" -gt 0 ] || fail "the download ended before it could be killed"

cli download 2>"$work/download.err" || { cat "$work/download.err" >&2; fail "download"; }
[ "$(cli list queue | tail -n +2 | grep -c . || true)" -eq 0 ] || { cli list queue >&2; cat "$work/download.err" >&2; fail "queue not empty"; }
done_rows=$(cli list log | tail -n +2 | awk -F'\t' '$1 == 5' | wc -l)
[ "$done_rows" -eq "$files" ] || fail "$done_rows of $files files filed as downloaded"
(cd "$work/dl/corpus" && sha256sum --quiet -c "$work/corpus.sha256") || fail "sha256"

# Scan, then grab one file of the group.
cli subscribe alt.binaries.test --dir "$work/grab" >/dev/null
cli scan alt.binaries.test 2>/dev/null || fail "scan"
cli grab alt.binaries.test --filter report_summer 2>/dev/null | grep -q "1 attachments queued" ||
    fail "grab"
(cd "$work/grab" && grep report_summer "$work/corpus.sha256" | sha256sum --quiet -c -) ||
    fail "grabbed file"

if [ -n "$tls" ]; then
    # A strict check against the system's store refuses the self-signed certificate; the
    # reason reaches the user.
    strict() { "$bin/quillstream-cli" --home "$work/strict" --yes "$@"; }
    strict servers add 127.0.0.1 --port "$port" --tls --verify 2 >/dev/null
    strict subscribe alt.binaries.test --dir "$work/strict-grab" >/dev/null
    if out=$(strict scan alt.binaries.test 2>&1); then
        fail "scan with --verify 2 accepted a self-signed certificate: $out"
    fi
    echo "$out" | grep -q "certificate verify failed (self-signed certificate)" ||
        fail "scan with --verify 2: no reason given: $out"
    echo "$out"
fi
echo "end to end${tls:+ over TLS}: $files files downloaded and checked"
