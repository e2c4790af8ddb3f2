#!/usr/bin/env bash
# End to end against Debian's INN 2: installs and starts it on loopback, posts the generated
# corpus with quillstream-post, then drives quillstream-cli as a user would and checks every
# downloaded file byte for byte (SHA-256) against the corpus; then reads through nnrpd over
# TLS with certificates made here; it posts a par2 set with one article missing and gets
# it back repaired and unpacked; last it posts text articles and reads them back.
#
#   inn2_e2e.sh CLI POST SETUP WORKDIR
#
# Exit 0 passed, 1 failed, 77 skipped (no root and no password-less sudo to install INN).
set -uo pipefail

CLI=$1
POST=$2
SETUP=$3
WORK=$4
# alt.binaries.big: 6 MiB in files of 2 MiB, parts of 750 KB (above INN's default size limit)
CORPUS=(--seed 1 --big-mb 6 --big-file-mb 2)
AUTH_USER=qsuser
AUTH_PASSWORD=qs-secret-1

for tool in "$CLI" "$POST" "$SETUP"; do
    [ -x "$tool" ] || {
        echo "FAIL: $tool is missing"
        exit 1
    }
done

failures=0
started=$(date +%s)

note() { echo "== [$(($(date +%s) - started)) s] $*"; }
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if [ "$(id -u)" -eq 0 ]; then
    SUDO=()
elif sudo -n true 2> /dev/null; then
    SUDO=(sudo -n)
else
    echo "skipped: INN 2 needs root or password-less sudo to install and start"
    exit 77
fi
# INN must not inherit the lock (fd 9): a left-over innd would hold it for ever.
setup() { "${SUDO[@]}" "$SETUP" "$@" 9>&-; }

# One INN per machine: runs of this suite from other build trees wait for each other.
exec 9> /tmp/quillstream-inn2.lock
flock -w 600 9 || {
    echo "FAIL: another run holds /tmp/quillstream-inn2.lock"
    exit 1
}

rm -rf "$WORK"
mkdir -p "$WORK"

note "installing inn2 (if missing)"
t0=$(date +%s)
setup install || exit 1
echo "inn2 ready after $(($(date +%s) - t0)) s"

PORT=$(setup free-port)
AUTH_PORT=$(setup free-port)
while [ "$AUTH_PORT" = "$PORT" ]; do AUTH_PORT=$(setup free-port); done
trap 'setup stop' EXIT
trap 'exit 1' INT TERM
note "starting INN on 127.0.0.1:$PORT, AUTHINFO listener on 127.0.0.1:$AUTH_PORT"
setup start "$PORT" "$AUTH_PORT" "$AUTH_USER" "$AUTH_PASSWORD" || exit 1

note "posting the corpus (${CORPUS[*]})"
"$POST" --port "$PORT" "${CORPUS[@]}" --connections 2 \
    --write-nzb "$WORK/corpus.nzb" --write-sha256 "$WORK/corpus.sha256" || exit 1
"$POST" "${CORPUS[@]}" --list > "$WORK/corpus.list"

# cli HOME ARGS...: runs quillstream-cli with that home; output in $out, status in $rc.
# A new server in a home also turns unpacking off there: the corpus's .rar files are random
# bytes, not archives (sets without par2 files are left as they are).
cli() {
    local home=$1
    shift
    out=$("$CLI" --home "$home" --yes "$@" 2>&1)
    rc=$?
    if [ "$rc" -eq 0 ] && [ "$1" = servers ] && [ "${2:-}" = add ]; then
        "$CLI" --home "$home" config Advanced PostProcess 1 > /dev/null 2>&1
    fi
}
# expect_ok WHAT: fails unless the last cli call exited 0.
expect_ok() {
    [ "$rc" -eq 0 ] || fail "$1: exit $rc: $out"
}

# check_files ROOT [SKIP_NAME]: every corpus file (but SKIP_NAME) exists once below ROOT
# with the corpus's SHA-256.
check_files() {
    local root=$1 skip=${2:-} sum name found got checked=0
    while read -r sum name; do
        [ "$name" = "$skip" ] && continue
        found=$(find "$root" -type f -name "$name")
        if [ -z "$found" ]; then
            fail "$root: $name was not written"
            continue
        fi
        if [ "$(wc -l <<< "$found")" -ne 1 ]; then
            fail "$root: $name written more than once: $(tr '\n' ' ' <<< "$found")"
            continue
        fi
        got=$(sha256sum "$found" | cut -d' ' -f1)
        if [ "$got" != "$sum" ]; then
            fail "$found differs from the corpus: size $(stat -c %s "$found"), SHA-256 $got, expected $sum"
            cmp "$found" <("$POST" "${CORPUS[@]}" --dump "$name" 2> /dev/null) 2>&1 |
                head -1
            continue
        fi
        checked=$((checked + 1))
    done < "$WORK/corpus.sha256"
    echo "$root: $checked files match the corpus"
}

# The groups and what list must show for them.
binary_names() { awk -F'\t' -v g="$1" '$1 == g && $2 != "text" {print $5}' "$WORK/corpus.list"; }
article_count() { awk -F'\t' -v g="$1" '$1 == g {n++} END {print n + 0}' "$WORK/corpus.list"; }

# ---- subscribe, scan, list, grab -------------------------------------------------------
note "subscribe, scan, list, grab (no login)"
H=$WORK/home-grab
DL=$WORK/grab
cli "$H" servers add 127.0.0.1 --port "$PORT"
expect_ok "servers add"
for g in alt.binaries.test alt.binaries.big alt.test.text alt.binaries.empty; do
    cli "$H" subscribe "$g" --dir "$DL/$g"
    expect_ok "subscribe $g"
    cli "$H" scan "$g"
    expect_ok "scan $g"
    echo "$out" | tail -1
    cli "$H" list "$g"
    expect_ok "list $g"
    rows=$(($(wc -l <<< "$out") - 1))
    want=$(awk -F'\t' -v g="$g" '$1 == g {n++} END {print n + 0}' "$WORK/corpus.list")
    [ "$rows" -eq "$want" ] || fail "list $g: $rows rows, the corpus has $want posts"$'\n'"$out"
    for name in $(binary_names "$g"); do
        grep -qF "$name" <<< "$out" || fail "list $g: no row for $name"$'\n'"$out"
        # Every part posted was seen: parts == partcount on the file's row.
        awk -F'\t' -v n="$name" 'index($8, n) && $2 != $3 {exit 1}' <<< "$out" ||
            fail "list $g: $name is incomplete"$'\n'"$out"
    done
done

have_download=1
"$CLI" --help 2>&1 | grep -qw grab || have_download=0
if [ "$have_download" -eq 0 ]; then
    echo "skipped: grab, nzb and download checks (quillstream-cli has no grab command yet)"
else
    text_posts=$(awk -F'\t' '$1 == "alt.binaries.test" && $2 == "text" {n++} END {print n + 0}' \
        "$WORK/corpus.list")
    binaries=$(binary_names alt.binaries.test | wc -l)
    t0=$(date +%s.%N)
    cli "$H" grab alt.binaries.test
    # Text posts in a binary group have nothing to decode: they fail, the binaries must not.
    grep -q "$binaries downloaded, $text_posts failed" <<< "$out" ||
        fail "grab alt.binaries.test: expected $binaries downloaded, $text_posts failed: $out"
    cli "$H" grab alt.binaries.big
    expect_ok "grab alt.binaries.big"
    t1=$(date +%s.%N)
    check_files "$DL"
    bytes=$(awk '{s += $4} END {print s}' "$WORK/corpus.list")
    echo "grab of the corpus ($bytes bytes, 6 slots, with the pauses after the failed text posts): $(echo "$t1 - $t0" | bc) s"
    cli "$H" list log
    expect_ok "list log"

    # ---- nzb + download in a fresh home ------------------------------------------------
    note "nzb + download"
    H=$WORK/home-nzb
    DL=$WORK/nzb
    cli "$H" servers add 127.0.0.1 --port "$PORT"
    cli "$H" config Advanced BaseDir "$DL"
    cli "$H" config Advanced AutoCreateDirs 1
    cli "$H" nzb "$WORK/corpus.nzb"
    expect_ok "nzb corpus.nzb"
    cli "$H" download
    expect_ok "download"
    check_files "$DL"

    # ---- autograb: scan only, then scan, queue and download -------------------------------
    note "autograb (AutoScanOnly 1, then 0)"
    H=$WORK/home-autograb
    DL=$WORK/autograb
    cli "$H" servers add 127.0.0.1 --port "$PORT"
    for g in alt.binaries.test alt.binaries.big; do
        cli "$H" subscribe "$g" --dir "$DL/$g"
        expect_ok "subscribe $g"
    done
    cli "$H" config Advanced AutoScanOnly 1
    cli "$H" autograb
    expect_ok "autograb with AutoScanOnly 1"
    [ -z "$(find "$DL" -type f 2> /dev/null)" ] || fail "autograb with AutoScanOnly 1 downloaded files"
    cli "$H" list alt.binaries.big
    [ "$(($(wc -l <<< "$out") - 1))" -eq "$(article_count alt.binaries.big)" ] ||
        fail "autograb with AutoScanOnly 1 did not scan alt.binaries.big: $out"
    cli "$H" config Advanced AutoScanOnly 0
    cli "$H" autograb
    echo "$out" | tail -1
    all_binaries=$(($(binary_names alt.binaries.test | wc -l) + $(binary_names alt.binaries.big | wc -l)))
    grep -q "$all_binaries downloaded, $text_posts failed" <<< "$out" ||
        fail "autograb: expected $all_binaries downloaded, $text_posts failed: $out"
    check_files "$DL"

    # ---- a segment that no server has ---------------------------------------------------
    # The second segment of the first multi-part yEnc file gets a message-id nobody posted.
    victim=$(awk -F'\t' '$2 == "yenc" && $3 > 2 {print $5; exit}' "$WORK/corpus.list")
    victim_id=$(grep -A6 "&quot;$victim&quot;" "$WORK/corpus.nzb" | grep 'number="2"' |
        sed -E 's/.*>([^<]+)<\/segment>.*/\1/')
    [ -n "$victim_id" ] || fail "no second segment found for $victim in corpus.nzb"
    sed "s|>$victim_id<|>missing.$victim_id<|" "$WORK/corpus.nzb" > "$WORK/missing.nzb"
    for skip in 1 0; do
        note "missing article, SkipMissing $skip"
        H=$WORK/home-missing$skip
        DL=$WORK/missing$skip
        cli "$H" servers add 127.0.0.1 --port "$PORT"
        cli "$H" config Advanced BaseDir "$DL"
        cli "$H" config Advanced AutoCreateDirs 1
        cli "$H" config Advanced SkipMissing $skip
        cli "$H" config Advanced ConnectionRetries 1
        cli "$H" nzb "$WORK/missing.nzb"
        expect_ok "nzb missing.nzb"
        cli "$H" download
        download_rc=$rc
        download_out=$out
        echo "$out" | tail -1
        check_files "$DL" "$victim"
        found=$(find "$DL" -type f -name "$victim")
        cli "$H" list log
        log=$out
        if [ "$skip" -eq 0 ]; then
            # The attachment is given up, says so, and the rest is intact.
            [ "$download_rc" -eq 1 ] || fail "SkipMissing 0: download exit $download_rc, expected 1"
            grep -F "$victim" <<< "$log" | grep -q '^6' ||
                fail "SkipMissing 0: $victim not in the log as failed: $log"
        else
            # The download goes on past the hole: the parts before and after it are written
            # where they belong (yEnc parts of this corpus hold 384000 bytes).
            if [ -z "$found" ]; then
                fail "SkipMissing 1: $victim not written at all"
            else
                ref=$WORK/$victim.ref
                "$POST" "${CORPUS[@]}" --dump "$victim" > "$ref"
                cmp -n 384000 "$found" "$ref" > /dev/null ||
                    fail "SkipMissing 1: part 1 of $found differs: $(cmp -n 384000 "$found" "$ref")"
                cmp -i 768000 "$found" "$ref" > /dev/null ||
                    fail "SkipMissing 1: the parts after the hole in $found differ: $(cmp -i 768000 "$found" "$ref")"
            fi
            echo "SkipMissing 1: $victim is in the log as: $(grep -F "$victim" <<< "$log" | cut -f1) (5 done, 6 failed)"
            # Written with a hole as asked, but neither the user nor a script is told it worked.
            [ "$download_rc" -eq 1 ] || fail "SkipMissing 1: download exit $download_rc, expected 1"
            grep -q "parts missing, the file is incomplete" <<< "$download_out" ||
                fail "SkipMissing 1: no word of the missing part: $download_out"
        fi
    done
fi

# ---- a par2 set with one article missing -------------------------------------------------
# A 7z archive in three volumes with par2 recovery files, made here by Debian's 7z and par2,
# posted to alt.binaries.sets without the second article of the second volume. Both grab
# (after a scan) and nzb + download must repair the volume and unpack the original file.
if [ "$have_download" -eq 1 ] && command -v 7z > /dev/null && command -v par2 > /dev/null; then
    note "a par2 set with one article missing: grab, then nzb + download"
    SET=$WORK/set-source
    mkdir -p "$SET"
    head -c 3000000 /dev/urandom > "$SET/payload.bin"
    (cd "$SET" && 7z a -v1m -mx0 set.7z payload.bin > /dev/null &&
        par2 create -q -r15 set.par2 set.7z.* > /dev/null) || fail "making the par2 set"
    want=$(sha256sum "$SET/payload.bin" | cut -d' ' -f1)
    "$POST" --port "$PORT" --group alt.binaries.sets --part-size 256000 \
        --files "$SET"/set.7z.* "$SET"/set*.par2 --omit set.7z.002:2 \
        --write-nzb "$WORK/set.nzb" || fail "posting the par2 set"
    # check_set WHAT DIR: the set was repaired and unpacked into DIR, the exit status is 0.
    check_set() {
        local found
        [ "$rc" -eq 0 ] || fail "$1: exit $rc: $out"
        grep -q "set set: repaired ([0-9]* blocks), unpacked (1 file)" <<< "$out" ||
            fail "$1: the set was not repaired and unpacked: $out"
        found=$(find "$2" -type f -name payload.bin)
        [ -n "$found" ] && [ "$(sha256sum "$found" | cut -d' ' -f1)" = "$want" ] ||
            fail "$1: payload.bin is missing or differs from the one posted"
        echo "$1: $(grep "^set set:" <<< "$out")"
    }
    H=$WORK/home-set-grab
    cli "$H" servers add 127.0.0.1 --port "$PORT"
    cli "$H" config Advanced PostProcess 2
    cli "$H" subscribe alt.binaries.sets --dir "$WORK/set-grab"
    cli "$H" scan alt.binaries.sets
    expect_ok "scan alt.binaries.sets"
    cli "$H" grab alt.binaries.sets
    check_set "grab of the set" "$WORK/set-grab"

    H=$WORK/home-set-nzb
    cli "$H" servers add 127.0.0.1 --port "$PORT"
    cli "$H" config Advanced PostProcess 2
    cli "$H" config Advanced BaseDir "$WORK/set-nzb"
    cli "$H" config Advanced AutoCreateDirs 1
    cli "$H" nzb "$WORK/set.nzb"
    expect_ok "nzb set.nzb"
    cli "$H" download
    check_set "nzb + download of the set" "$WORK/set-nzb"
else
    echo "skipped: the par2 set (no grab command, 7z or par2)"
fi

# ---- INN's stock set-up: localhost is a feeding peer -------------------------------------
# innd then answers "401 MODE-READER" to everything until the client sends MODE READER.
note "localhost as a feeding peer (MODE READER needed)"
setup localhost-peer on || fail "localhost-peer on"
H=$WORK/home-peer
DL=$WORK/peer
cli "$H" servers add 127.0.0.1 --port "$PORT"
cli "$H" subscribe alt.binaries.test --dir "$DL"
cli "$H" scan alt.binaries.test
expect_ok "scan with localhost as a peer"
cli "$H" list alt.binaries.test
rows=$(($(wc -l <<< "$out") - 1))
[ "$rows" -eq "$(article_count alt.binaries.test)" ] ||
    fail "list after a scan with localhost as a peer: $rows rows: $out"
if [ "$have_download" -eq 1 ]; then
    cli "$H" grab alt.binaries.test --filter .rar
    expect_ok "grab --filter .rar with localhost as a peer"
    name=$(awk -F'\t' '$1 == "alt.binaries.test" && $5 ~ /\.rar$/ {print $5; exit}' "$WORK/corpus.list")
    want=$(awk -v n="$name" '$2 == n {print $1}' "$WORK/corpus.sha256")
    got=$(sha256sum "$DL/$name" 2> /dev/null | cut -d' ' -f1)
    [ "$got" = "$want" ] || fail "$DL/$name differs from the corpus (grab with localhost as a peer)"
fi
setup localhost-peer off || fail "localhost-peer off"

# ---- a server that requires AUTHINFO ----------------------------------------------------
note "AUTHINFO listener"
H=$WORK/home-auth
DL=$WORK/auth
cli "$H" servers add 127.0.0.1 --port "$AUTH_PORT" --user "$AUTH_USER" --password "$AUTH_PASSWORD"
cli "$H" config Advanced UseLog 1 # the debug log tells whether the connection was compressed
cli "$H" subscribe alt.binaries.test --dir "$DL"
cli "$H" scan alt.binaries.test
expect_ok "scan with AUTHINFO"
cli "$H" list alt.binaries.test
rows=$(($(wc -l <<< "$out") - 1))
[ "$rows" -eq "$(article_count alt.binaries.test)" ] ||
    fail "list after a scan with AUTHINFO: $rows rows: $out"
if [ "$have_download" -eq 1 ]; then
    # One file of each encoding through the login.
    for ext in .nfo .gif .png; do
        cli "$H" grab alt.binaries.test --filter "$ext"
        expect_ok "grab --filter $ext with AUTHINFO"
    done
    for name in $(awk -F'\t' '$1 == "alt.binaries.test" && $5 ~ /\.(nfo|gif|png)$/ {print $5}' \
        "$WORK/corpus.list"); do
        want=$(awk -v n="$name" '$2 == n {print $1}' "$WORK/corpus.sha256")
        got=$(sha256sum "$DL/$name" 2> /dev/null | cut -d' ' -f1)
        [ "$got" = "$want" ] || fail "$DL/$name differs from the corpus (AUTHINFO grab)"
    done
fi
# INN offers COMPRESS DEFLATE once a reader has logged in; the scan and the grabs above then
# ran compressed.
capabilities=$( (
    printf 'AUTHINFO USER %s\r\nAUTHINFO PASS %s\r\nCAPABILITIES\r\nQUIT\r\n' \
        "$AUTH_USER" "$AUTH_PASSWORD"
    sleep 1
) | nc -q 2 127.0.0.1 "$AUTH_PORT" 2> /dev/null)
if grep -qi "^COMPRESS.*DEFLATE" <<< "$capabilities"; then
    grep -q "Compression on" "$H/log.txt" ||
        fail "INN offers COMPRESS DEFLATE but the connections were not compressed"
else
    echo "INN offers no COMPRESS DEFLATE here; compression not checked"
fi

note "wrong password"
H=$WORK/home-badauth
cli "$H" servers add 127.0.0.1 --port "$AUTH_PORT" --user "$AUTH_USER" --password wrong
cli "$H" subscribe alt.binaries.test --dir "$WORK/badauth"
cli "$H" scan alt.binaries.test
echo "$out"
[ "$rc" -eq 1 ] || fail "scan with a wrong password: exit $rc, expected 1: $out"
grep -q "0 servers scanned, 1 failed" <<< "$out" ||
    fail "scan with a wrong password: no failure reported: $out"
cli "$H" list alt.binaries.test
[ "$(wc -l <<< "$out")" -eq 1 ] || fail "a scan with a wrong password stored rows: $out"
if [ "$have_download" -eq 1 ]; then
    cli "$H" config Advanced BaseDir "$WORK/badauth"
    cli "$H" config Advanced ConnectionRetries 1
    cli "$H" nzb "$WORK/corpus.nzb"
    cli "$H" download
    echo "$out" | tail -1
    [ "$rc" -eq 1 ] || fail "download with a wrong password: exit $rc, expected 1: $out"
    grep -q "0 downloaded" <<< "$out" || fail "download with a wrong password: $out"
    [ -z "$(find "$WORK/badauth" -type f)" ] ||
        fail "download with a wrong password wrote files: $(find "$WORK/badauth" -type f)"
fi

# ---- NNTP over TLS ---------------------------------------------------------------------
# make_certificates DIR: a throw-away CA (ca.pem) and two server certificates it issued:
# ip.pem/ip.key for 127.0.0.1, other.pem/other.key for another name.
make_certificates() {
    local dir=$1 name san
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillstream test CA" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign \
        -keyout "$dir/ca.key" -out "$dir/ca.pem" || return 1
    for name in ip:IP:127.0.0.1 other:DNS:news.example.invalid; do
        san=${name#*:}
        name=${name%%:*}
        openssl req -newkey rsa:2048 -nodes -subj "/CN=${san#*:}" \
            -keyout "$dir/$name.key" -out "$dir/$name.csr" || return 1
        openssl x509 -req -in "$dir/$name.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
            -CAcreateserial -days 2 -out "$dir/$name.pem" \
            -extfile <(printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$san") ||
            return 1
    done
}

if ! command -v openssl > /dev/null; then
    echo "skipped: TLS checks (no openssl command)"
else
    note "TLS: a CA, certificates for 127.0.0.1 and for another name, two nnrpd -S"
    TLS=$WORK/tls
    mkdir -p "$TLS"
    make_certificates "$TLS" > "$TLS/openssl.log" 2>&1 ||
        fail "making certificates: $(cat "$TLS/openssl.log")"
    TLS_PORT=$(setup free-port)
    TLS_OTHER_PORT=$(setup free-port)
    while [ "$TLS_OTHER_PORT" = "$TLS_PORT" ]; do TLS_OTHER_PORT=$(setup free-port); done
    setup tls "$TLS_PORT" "$TLS/ip.pem" "$TLS/ip.key" || fail "nnrpd -S on $TLS_PORT"
    setup tls "$TLS_OTHER_PORT" "$TLS/other.pem" "$TLS/other.key" ||
        fail "nnrpd -S on $TLS_OTHER_PORT"
    # Only this CA is trusted from here on.
    export SSL_CERT_FILE=$TLS/ca.pem SSL_CERT_DIR=$TLS

    note "TLS, certificate for 127.0.0.1, --verify 2: scan, list, grab"
    H=$WORK/home-tls
    DL=$WORK/tls-grab
    cli "$H" servers add 127.0.0.1 --port "$TLS_PORT" --tls --verify 2
    expect_ok "servers add --tls"
    cli "$H" subscribe alt.binaries.test --dir "$DL"
    cli "$H" scan alt.binaries.test
    expect_ok "scan over TLS"
    echo "$out" | tail -1
    cli "$H" list alt.binaries.test
    rows=$(($(wc -l <<< "$out") - 1))
    [ "$rows" -eq "$(article_count alt.binaries.test)" ] ||
        fail "list after a scan over TLS: $rows rows: $out"
    if [ "$have_download" -eq 1 ]; then
        cli "$H" grab alt.binaries.test
        echo "$out" | tail -1
        grep -q "$binaries downloaded, $text_posts failed" <<< "$out" ||
            fail "grab over TLS: expected $binaries downloaded, $text_posts failed: $out"
        checked=0
        for name in $(binary_names alt.binaries.test); do
            want=$(awk -v n="$name" '$2 == n {print $1}' "$WORK/corpus.sha256")
            got=$(sha256sum "$DL/$name" 2> /dev/null | cut -d' ' -f1)
            if [ "$got" = "$want" ]; then
                checked=$((checked + 1))
            else
                fail "$DL/$name differs from the corpus (grab over TLS)"
            fi
        done
        echo "$DL: $checked files match the corpus"
    fi

    note "TLS, certificate for another name, --verify 2: refused"
    H=$WORK/home-tls-other
    cli "$H" servers add 127.0.0.1 --port "$TLS_OTHER_PORT" --tls --verify 2
    cli "$H" subscribe alt.binaries.test --dir "$WORK/tls-other"
    cli "$H" config Advanced ConnectionRetries 1
    cli "$H" scan alt.binaries.test
    echo "$out"
    [ "$rc" -eq 1 ] || fail "scan, certificate for another name: exit $rc, expected 1: $out"
    grep -q "certificate verify failed" <<< "$out" ||
        fail "scan, certificate for another name: the reason is not shown: $out"
    cli "$H" list alt.binaries.test
    [ "$(wc -l <<< "$out")" -eq 1 ] || fail "a refused TLS scan stored rows: $out"
    if [ "$have_download" -eq 1 ]; then
        # One file is enough to see the reason: each refused file costs a connection attempt.
        awk '{print} /<\/file>/ {print "</nzb>"; exit}' "$WORK/corpus.nzb" > "$TLS/one.nzb"
        cli "$H" config Advanced BaseDir "$WORK/tls-other"
        cli "$H" nzb "$TLS/one.nzb"
        expect_ok "nzb one.nzb"
        cli "$H" download
        echo "$out"
        [ "$rc" -eq 1 ] || fail "download, certificate for another name: exit $rc, expected 1"
        grep -q "certificate verify failed" <<< "$out" ||
            fail "download, certificate for another name: the reason is not shown: $out"
        [ -z "$(find "$WORK/tls-other" -type f)" ] ||
            fail "a refused TLS download wrote files: $(find "$WORK/tls-other" -type f)"
    fi

    # The chain alone is sound: --verify 1 reads from the same listener.
    note "TLS, certificate for another name, --verify 1: accepted"
    H=$WORK/home-tls-chain
    cli "$H" servers add 127.0.0.1 --port "$TLS_OTHER_PORT" --tls --verify 1
    cli "$H" subscribe alt.binaries.test --dir "$WORK/tls-chain"
    cli "$H" scan alt.binaries.test
    expect_ok "scan over TLS with --verify 1, certificate for another name"
    unset SSL_CERT_FILE SSL_CERT_DIR
fi

# ---- reading and posting ----------------------------------------------------------------
note "post, read back, follow up"
H=$WORK/home-post
GROUP=alt.test.text
FROM="Quill Tester <tester@example.invalid>"
cli "$H" servers add 127.0.0.1 --port "$PORT"
cli "$H" subscribe "$GROUP" --dir "$WORK/post"
# Lines that start with a dot, and one that is a lone dot, must come back as they went,
# with no line added after the last.
printf 'first line\n.starts with a dot\n.\n..two dots\nlast line\n' > "$WORK/post-body"
# find_post SUBJECT: scans the group; posted_id gets the Id (the Message-ID) of that post's row.
find_post() {
    cli "$H" scan "$GROUP"
    cli "$H" list "$GROUP"
    posted_id=$(awk -F'\t' -v s="$1" '$8 == s {print $9}' <<< "$out")
}
cli "$H" post --group "$GROUP" --subject "qs round trip $$" --from "$FROM" < "$WORK/post-body"
expect_ok "post"
find_post "qs round trip $$"
first_id=$posted_id
if [ -z "$first_id" ]; then
    fail "the post is not in the list of $GROUP: $out"
else
    "$CLI" --home "$H" read "$first_id" --group "$GROUP" > "$WORK/read-first" 2> "$WORK/read-err" ||
        fail "read $first_id: $(cat "$WORK/read-err")"
    sed '1,/^$/d' "$WORK/read-first" > "$WORK/read-body"
    cmp "$WORK/post-body" "$WORK/read-body" ||
        fail "the body read back differs from the one posted:"$'\n'"$(diff "$WORK/post-body" "$WORK/read-body")"

    cli "$H" post --group "$GROUP" --subject "Re: qs round trip $$" --from "$FROM" \
        --references "$first_id" <<< "a reply"
    expect_ok "post a follow-up"
    find_post "Re: qs round trip $$"
    cli "$H" read "$posted_id" --group "$GROUP"
    expect_ok "read the follow-up"
    grep -qxF "References: $first_id" <<< "$out" ||
        fail "the follow-up has no References: $first_id:"$'\n'"$out"
fi

cli "$H" post --group alt.test.nowhere --subject refused --from "$FROM" <<< text
echo "a post to a group INN does not carry: $out"
[ "$rc" -eq 1 ] || fail "post to a missing group: exit $rc, expected 1: $out"
grep -qE '(^|: )4[0-9][0-9] ' <<< "$out" || fail "post to a missing group: no reply from INN: $out"
cli "$H" post --group "$GROUP" --subject "no from" <<< text
[ "$rc" -ne 0 ] && grep -q From <<< "$out" ||
    fail "post without a From address: exit $rc: $out"

echo "integration suite took $(($(date +%s) - started)) s"
if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
