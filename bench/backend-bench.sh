#!/usr/bin/env bash
# The fax printer's backend as a whole process, from the job's start to the page-count file
# written, side by side with Ghostscript's own 200 dpi bitmap rendering of the same PDF (the
# backend's renderer with its arguments, writing the pages to a file), in one hyperfine run:
#   bench/backend-bench.sh BIN_DIR [OTHER_VELLUMFAX ...]
# Documents: the first 10 pages of the shared-mime-info manual, and 100 pages cut from it
# over and over. Each further vellumfax given (an older build, say) runs beside BIN_DIR's.
# Prints hyperfine's table, the median ratios to Ghostscript, and the peak memory (the
# largest of the backend and its renderers) for 10 and 100 pages.
# Needs root: the backend takes no jobs of root, so a user made for the run (removed after
# it) owns the job, as the spooler would start it for them.
set -euo pipefail
if [[ $# -lt 1 ]]; then
    echo "usage: $0 BIN_DIR [OTHER_VELLUMFAX ...]" >&2
    exit 2
fi
if [[ $(id -u) -ne 0 ]]; then
    echo "$0 needs root: the backend becomes the job's user, a user made for the run" >&2
    exit 2
fi
backends=("$(realpath "$1")/vellumfax")
for other in "${@:2}"; do
    backends+=("$(realpath "$other")")
done
runs=${BENCH_RUNS:-10}
manual=$(ls /usr/share/doc/shared-mime-info/shared-mime-info-*.pdf | head -n 1)

work=$(mktemp -d /tmp/vellum-backend-bench.XXXXXX)
chmod 0755 "$work"
user=vzbench$$
cleanup() {
    userdel --force --remove "$user" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
useradd --create-home --user-group --shell /bin/sh "$user"
home=$(getent passwd "$user" | cut -d: -f6)
root=$home/vellum
runuser -u "$user" -- sh -c "umask 077 && mkdir -p '$root' '$home/.config/vellum' &&
    printf 'root=%s\n' '$root' > '$home/.config/vellum/fax-printer'"

# The documents: pages of the manual, united again, cycling through it.
mkdir "$work/pages"
pdfseparate "$manual" "$work/pages/%d.pdf"
manual_pages=$(ls "$work/pages" | wc -l)
make_document() { # PAGES FILE
    local files=()
    for ((n = 0; n < $1; ++n)); do
        files+=("$work/pages/$((n % manual_pages + 1)).pdf")
    done
    pdfunite "${files[@]}" "$2"
}
make_document 10 "$work/doc10.pdf"
make_document 100 "$work/doc100.pdf"
chmod 0644 "$work"/doc*.pdf

uptime
export DEVICE_URI=vellumfax:/
for pages in 10 100; do
    document=$work/doc$pages.pdf
    commands=(-n "gs pbmraw $pages pages"
        "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r200 -g1700x2200 -dFIXEDMEDIA -dPDFFitPage -sOutputFile=$work/out.pbm -f $document")
    for backend in "${backends[@]}"; do
        commands+=(-n "$backend $pages pages" "$backend 1 $user bench 1 '' $document")
    done
    hyperfine -N --warmup 2 --runs "$runs" --export-json "$work/$pages.json" "${commands[@]}"
    [[ $(od -An -tu1 -N1 "$root/c/Page.tmp") -eq $((pages + 1)) ]] ||
        { echo "the backend did not leave $pages pages" >&2; exit 1; }
    /usr/bin/python3 - "$work/$pages.json" <<'EOF'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
gs = results[0]["median"]
for r in results:
    print(f"  median {r['median'] * 1000:8.1f} ms  {r['median'] / gs:5.2f} x gs   {r['command']}")
EOF
done
uptime

for pages in 10 100; do
    /usr/bin/time -f %M -o "$work/peak" gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r200 -g1700x2200 \
        -dFIXEDMEDIA -dPDFFitPage -sOutputFile="$work/out.pbm" -f "$work/doc$pages.pdf"
    echo "peak memory $(($(cat "$work/peak") / 1024)) MB  gs pbmraw $pages pages"
    for backend in "${backends[@]}"; do
        /usr/bin/time -f %M -o "$work/peak" "$backend" 1 "$user" bench 1 '' "$work/doc$pages.pdf" 2>/dev/null
        echo "peak memory $(($(cat "$work/peak") / 1024)) MB  $backend $pages pages"
    done
done
