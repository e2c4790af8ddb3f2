#!/usr/bin/env bash
# Installs the Debian packages the build, the GUI and the tests need, only those missing.
# Safe to run again; uses apt-get directly as root, else through sudo.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang-format
  # core libraries
  libsqlite3-dev libtinyxml2-dev libpcre2-dev libcli11-dev zlib1g-dev libisal-dev libssl-dev
  libarchive-dev
  # post-processing: par2 verifies and repairs finished sets
  par2
  # GUI
  libwxgtk3.2-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # fuzz targets: clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
  # test tools: fixtures from real encoders, a display for GUI tests, loopback checks
  sharutils mpack xvfb xauth x11-apps imagemagick xdotool netcat-openbsd sqlite3 openssl
  # archives made at test time
  p7zip-full zip
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
