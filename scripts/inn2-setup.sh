#!/usr/bin/env bash
# Runs Debian's INN 2 (inn2) as a local news server for the end-to-end suite.
#
#   inn2-setup.sh install                         install inn2 if missing (idempotent)
#   inn2-setup.sh start PORT AUTH_PORT USER PASS  wipe INN's articles, configure, start:
#                                                 innd on 127.0.0.1:PORT (readers without a
#                                                 login) and an nnrpd on 127.0.0.1:AUTH_PORT
#                                                 that requires AUTHINFO USER/PASS
#   inn2-setup.sh tls PORT CERT KEY               start an nnrpd on 127.0.0.1:PORT that speaks
#                                                 TLS from the first byte with this certificate
#                                                 and key (PEM), readers without a login; INN
#                                                 must be started; one per port
#   inn2-setup.sh localhost-peer on|off           make localhost a feeding peer (INN's stock
#                                                 set-up: readers must send MODE READER) or not
#   inn2-setup.sh stop                            stop them all by PID
#   inn2-setup.sh free-port                       print a free loopback port
#
# Needs root; re-runs itself through sudo -n otherwise. There is no systemd here and service
# starts are blocked, so INN's own start script runs as user news. INN's data is wiped on
# every start, so each run serves exactly the corpus it posts.
set -euo pipefail

NEWS_ETC=/etc/news
NEWS_LIB=/usr/lib/news
NEWS_DB=/var/lib/news
NEWS_SPOOL=/var/spool/news
NEWS_RUN=/run/news
AUTH_READERS=$NEWS_ETC/readers-quillstream-auth.conf
AUTH_PASSWD=$NEWS_ETC/quillstream-passwd
NNRPD_PID=$NEWS_RUN/quillstream-nnrpd.pid
# A directory per TLS port holds its inn.conf, cert.pem and key.pem; PID files beside innd's.
TLS_ETC=$NEWS_ETC/quillstream-tls
TLS_PID_PREFIX=$NEWS_RUN/quillstream-nnrpd-tls-
GROUPS_CREATED=(alt.binaries.test alt.binaries.big alt.test.text alt.binaries.empty alt.binaries.sets)

die() {
    echo "inn2-setup: $*" >&2
    exit 1
}

as_root() {
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo > /dev/null || die "needs root or sudo"
        exec sudo -n -- "$0" "$@"
    fi
}

as_news() {
    setpriv --reuid news --regid news --init-groups -- "$@"
}

# Sets "key: value" in inn.conf (or FILE), replacing every existing line of that key.
set_conf() {
    local key=$1 value=$2 file=${3:-$NEWS_ETC/inn.conf}
    sed -i -E "/^$key:/d" "$file"
    echo "$key: $value" >> "$file"
}

installed() {
    dpkg-query -W -f='${Status}' inn2 2> /dev/null | grep -q 'install ok installed' &&
        [ -f $NEWS_ETC/inn.conf ] && [ -f $NEWS_ETC/newsfeeds ]
}

cmd_install() {
    installed && return 0
    export DEBIAN_FRONTEND=noninteractive
    # --force-confmiss brings back configuration files deleted by hand since an earlier install.
    local apt_options=(-y -qq --no-install-recommends -o Dpkg::Options::=--force-confmiss
        -o Dpkg::Options::=--force-confold)
    if ! dpkg-query -W -f='${Status}' inn2 2> /dev/null | grep -q 'install ok'; then
        echo "inn2-setup: installing inn2" >&2
        apt-get update -qq
        # The post-install step fails when the host name has no domain; fixed below.
        apt-get install "${apt_options[@]}" inn2 > /tmp/inn2-install.log 2>&1 || true
    fi
    if [ ! -f $NEWS_ETC/inn.conf ] || [ ! -f $NEWS_ETC/newsfeeds ]; then
        # inn.conf belongs to inn2-inews, the rest to inn2.
        apt-get install --reinstall "${apt_options[@]}" inn2-inews inn2 \
            >> /tmp/inn2-install.log 2>&1 || true
    fi
    [ -f $NEWS_ETC/inn.conf ] || die "inn2 did not install (see /tmp/inn2-install.log)"
    grep -qE '^domain:' $NEWS_ETC/inn.conf || echo 'domain: localdomain' >> $NEWS_ETC/inn.conf
    dpkg --configure -a >> /tmp/inn2-install.log 2>&1 || true
    installed || die "inn2 did not configure (see /tmp/inn2-install.log)"
}

configure() {
    local port=$1 auth_port=$2 user=$3 password=$4
    set_conf domain localdomain
    set_conf port "$port"
    set_conf nnrpdpostport "$port"
    set_conf bindaddress 127.0.0.1
    set_conf bindaddress6 none
    # Parts of 750 KB plus headers do not fit the default limit of 1,000,000 bytes.
    set_conf maxartsize 20000000
    set_conf localmaxartsize 20000000
    # The corpus is dated in the past; a busy CI machine must not turn readers away.
    set_conf artcutoff 0
    set_conf nnrpdloadlimit 0
    set_conf doinnwatch false
    set_conf docnfsstat false
    write_incoming off
    cat > $NEWS_ETC/readers.conf << 'EOF'
auth "localhost" {
    hosts: "localhost, 127.0.0.1, ::1, stdin"
    default: "<localhost>"
}
access "localhost" {
    users: "<localhost>"
    newsgroups: "*"
    access: RPA
    addcanlockuser: none
}
EOF
    cat > "$AUTH_READERS" << EOF
auth "quillstream" {
    hosts: "localhost, 127.0.0.1, ::1"
    auth: "ckpasswd -f $AUTH_PASSWD"
}
access "quillstream" {
    users: "$user"
    newsgroups: "*"
    access: RP
}
EOF
    local hash
    hash=$(perl -e 'print crypt($ARGV[0], q($6$quillstream$))' "$password")
    printf '%s:%s\n' "$user" "$hash" > "$AUTH_PASSWD"
    chown news:news "$AUTH_PASSWD"
    chmod 0640 "$AUTH_PASSWD"
    : "$auth_port"
}

# Writes incoming.conf with or without the stock entry that makes localhost a feeding peer.
# Without it every connection from here is a reader at once; with it innd answers readers
# "401 MODE-READER" until they send MODE READER.
write_incoming() {
    {
        echo 'streaming:          true'
        echo 'max-connections:    8'
        if [ "$1" = on ]; then
            echo 'peer ME {'
            echo '  hostname:         "localhost, 127.0.0.1, ::1"'
            echo '}'
        fi
    } > $NEWS_ETC/incoming.conf
}

cmd_localhost_peer() {
    [ "${1:-}" = on ] || [ "${1:-}" = off ] || die "usage: inn2-setup.sh localhost-peer on|off"
    write_incoming "$1"
    as_news $NEWS_LIB/bin/ctlinnd -t 10 reload incoming.conf quillstream > /dev/null ||
        die "ctlinnd reload incoming.conf failed"
}

# Empties INN's spool, overview and history and writes the active file with our groups.
wipe() {
    rm -rf "${NEWS_SPOOL:?}"/articles/* "${NEWS_SPOOL:?}"/overview/*
    rm -f $NEWS_SPOOL/tradspool.map $NEWS_DB/history*
    {
        for g in control control.cancel control.checkgroups control.newgroup control.rmgroup \
            junk; do
            echo "$g 0000000000 0000000001 n"
        done
        for g in "${GROUPS_CREATED[@]}"; do
            echo "$g 0000000000 0000000001 y"
        done
    } > $NEWS_DB/active
    : > $NEWS_DB/active.times
    : > $NEWS_DB/history
    chown news:news $NEWS_DB/active $NEWS_DB/active.times $NEWS_DB/history
    (cd $NEWS_DB && as_news $NEWS_LIB/bin/makedbz -i -o)
}

wait_listening() {
    local port=$1 what=$2
    for _ in $(seq 1 100); do
        if (exec 3<> /dev/tcp/127.0.0.1/"$port") 2> /dev/null; then
            return 0
        fi
        sleep 0.1
    done
    echo "inn2-setup: $what is not listening on 127.0.0.1:$port; INN's log says:" >&2
    tail -n 20 /var/log/news/news.err /var/log/news/news.crit 2> /dev/null >&2 || true
    return 1
}

cmd_start() {
    [ $# -eq 4 ] || die "usage: inn2-setup.sh start PORT AUTH_PORT USER PASSWORD"
    installed || die "inn2 is not installed (inn2-setup.sh install)"
    cmd_stop
    configure "$@"
    wipe
    mkdir -p $NEWS_RUN
    chown news:news $NEWS_RUN
    as_news $NEWS_LIB/bin/rc.news > /tmp/inn2-rc.news.log 2>&1 ||
        die "rc.news failed: $(cat /tmp/inn2-rc.news.log)"
    wait_listening "$1" innd
    # Started directly (not through a shell function) so that $! is nnrpd itself.
    setpriv --reuid news --regid news --init-groups -- $NEWS_LIB/bin/nnrpd -D -f -b 127.0.0.1 -p "$2" -c "$AUTH_READERS" \
        < /dev/null > /tmp/inn2-nnrpd.log 2>&1 &
    echo $! > $NNRPD_PID
    wait_listening "$2" "nnrpd (AUTHINFO)"
}

cmd_tls() {
    [ $# -eq 3 ] || die "usage: inn2-setup.sh tls PORT CERT KEY"
    local port=$1 cert=$2 key=$3
    local dir=$TLS_ETC/$port
    [[ $port =~ ^[0-9]+$ ]] || die "bad port: $port"
    if ! { [ -f $NEWS_RUN/innd.pid ] && alive "$(cat $NEWS_RUN/innd.pid)"; }; then
        die "INN is not running (inn2-setup.sh start)"
    fi
    stop_pid_file "$TLS_PID_PREFIX$port.pid"
    rm -rf "$dir"
    mkdir -p "$dir"
    # nnrpd runs as news: the key must be readable by news, and by nobody else.
    install -o news -g news -m 0644 "$cert" "$dir/cert.pem"
    install -o news -g news -m 0600 "$key" "$dir/key.pem"
    # An inn.conf of its own (INNCONF), so that each port may have another certificate.
    install -o news -g news -m 0644 $NEWS_ETC/inn.conf "$dir/inn.conf"
    set_conf tlscertfile "$dir/cert.pem" "$dir/inn.conf"
    set_conf tlskeyfile "$dir/key.pem" "$dir/inn.conf"
    INNCONF=$dir/inn.conf setpriv --reuid news --regid news --init-groups -- \
        $NEWS_LIB/bin/nnrpd -D -f -S -b 127.0.0.1 -p "$port" \
        < /dev/null > "/tmp/inn2-nnrpd-tls-$port.log" 2>&1 &
    echo $! > "$TLS_PID_PREFIX$port.pid"
    wait_listening "$port" "nnrpd (TLS)"
}

# True while the process runs (a zombie counts as gone: nothing may reap it here).
alive() {
    local stat state
    stat=$(cat "/proc/$1/stat" 2> /dev/null) || return 1
    stat=${stat##*) }
    state=${stat%% *}
    [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# Sends TERM to the process in a PID file and waits up to 10 s, then KILL.
stop_pid_file() {
    local file=$1 pid
    [ -f "$file" ] || return 0
    pid=$(cat "$file" 2> /dev/null || true)
    rm -f "$file"
    [[ $pid =~ ^[0-9]+$ ]] || return 0
    alive "$pid" || return 0
    kill "$pid" 2> /dev/null || return 0
    for _ in $(seq 1 100); do
        alive "$pid" || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2> /dev/null || true
}

cmd_stop() {
    local tls_pid
    stop_pid_file $NNRPD_PID
    for tls_pid in "$TLS_PID_PREFIX"*.pid; do
        stop_pid_file "$tls_pid"
    done
    rm -rf "$TLS_ETC"
    stop_pid_file $NEWS_RUN/innwatch.pid
    # innd may not act on TERM for seconds right after it started; asked through its control
    # channel it exits at once. rc.news stop would wait in 5-second steps, so wait by PID here.
    if [ -f $NEWS_RUN/innd.pid ] && alive "$(cat $NEWS_RUN/innd.pid)"; then
        as_news $NEWS_LIB/bin/ctlinnd -t 5 shutdown quillstream > /dev/null 2>&1 || true
    fi
    stop_pid_file $NEWS_RUN/innd.pid
    rm -f $NEWS_DB/LOCK.* $NEWS_RUN/LOCK.* 2> /dev/null || true
}

cmd_free_port() {
    local port
    for _ in $(seq 1 200); do
        port=$((20000 + RANDOM % 40000))
        if ! (exec 3<> /dev/tcp/127.0.0.1/$port) 2> /dev/null; then
            echo $port
            return 0
        fi
    done
    die "no free port found"
}

command=${1:-}
[ $# -gt 0 ] && shift
case $command in
    install) as_root install "$@" && cmd_install ;;
    start) as_root start "$@" && cmd_start "$@" ;;
    stop) as_root stop "$@" && cmd_stop ;;
    tls) as_root tls "$@" && cmd_tls "$@" ;;
    localhost-peer) as_root localhost-peer "$@" && cmd_localhost_peer "$@" ;;
    free-port) cmd_free_port ;;
    *) die "usage: inn2-setup.sh install | start PORT AUTH_PORT USER PASSWORD | tls PORT CERT KEY | localhost-peer on|off | stop | free-port" ;;
esac
