# Sourced by the shell tests that drive the built programs: a scratch directory `work`
# removed at exit with the test server, fail(), and start_testserver, which starts
# quillstream-testserver with the given arguments on a free port and sets `port`.
# Needs `bin` (the directory of the built programs) set before.
work=$(mktemp -d "${TMPDIR:-/tmp}/qs-test-XXXXXX")
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

start_testserver() {
    "$bin/quillstream-testserver" --port 0 "$@" >"$work/server.out" 2>&1 &
    server_pid=$!
    port=
    for _ in $(seq 1 100); do
        port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$work/server.out")
        [ -n "$port" ] && return 0
        sleep 0.1
    done
    fail "the test server did not start: $(cat "$work/server.out")"
}
