#!/usr/bin/env bash
# Makes docs/sendwell.png: the main dialog of Sendwell with a previewed page, grabbed from
# the running dialog on the offscreen platform (and the other dialogs beside it, for a
# look, in the build folder).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target app_dialog_tests >/dev/null
shots=$(mktemp -d)
QT_QPA_PLATFORM=offscreen VELLUM_SCREENSHOT="$shots/sendwell.png" \
    build/tests/bin/app_dialog_tests screenshotOfTheMainDialog >/dev/null
mkdir -p docs
cp "$shots/sendwell.png" docs/sendwell.png
cp "$shots"/sendwell-*.png build/
rm -rf "$shots"
echo "docs/sendwell.png"
