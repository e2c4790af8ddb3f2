#!/bin/sh
# Makes the screenshots the README shows (docs/screenshots/*.png): the GUI test program
# drives the main window against a news server of its own under a virtual X server and
# takes each picture with ImageMagick's import.
#   scripts/make-screenshots.sh [BUILD_DIR]   (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target test_ui
mkdir -p "$root/docs/screenshots"
QS_SCREENSHOT_DIR="$root/docs/screenshots" ASAN_OPTIONS=detect_leaks=0 \
    xvfb-run -a -s "-screen 0 1280x900x24 -dpi 96" \
    "$build/tests/ui/test_ui" --gtest_also_run_disabled_tests \
    --gtest_filter='Screenshots.DISABLED_*:SetOutcome.*'
ls -l "$root/docs/screenshots"
