# Sourced by the bench/cli_*.sh scripts: a scratch directory removed at exit, and a
# quillstream-testserver on a free loopback port.
#   bench_work NAME            sets $work to a fresh directory /tmp/qs-bench-NAME.*
#   bench_server BIN_DIR ARGS  starts the server with ARGS, sets $port and $server_pid and
#                              waits until it accepts connections
server_pid=
work=
bench_cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    [ -n "$work" ] && rm -rf "$work"
    return 0
}
trap bench_cleanup EXIT

bench_work() {
    work=$(mktemp -d "/tmp/qs-bench-$1.XXXXXX")
}

bench_server() {
    local bin=$1
    shift
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    "$bin/quillstream-testserver" --port "$port" "$@" >"$work/server.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
        sleep 0.1
    done
    echo "the test server did not start: $(cat "$work/server.out")" >&2
    return 1
}
