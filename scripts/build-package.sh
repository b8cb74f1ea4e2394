#!/usr/bin/env bash
# Builds the Debian package vellum-zeru from this source tree and checks it with lintian.
#   scripts/build-package.sh [FOLDER]
# writes vellum-zeru_<version>_<arch>.deb (and its .buildinfo, .changes and debug symbols) into
# FOLDER, build-package/ of the source tree by default. Installs the build dependencies that are
# missing (with sudo unless run as root). Exits non-zero when the build fails or lintian reports
# an error.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
out=$(realpath -m "${1:-$source_dir/build-package}")

sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
install_missing() {
    [[ $# -eq 0 ]] && return 0
    echo "Installing: $*"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# The tools that build and check a package, then what debian/control asks for.
tools=()
for pkg in dpkg-dev debhelper fakeroot lintian; do
    [[ $(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true) == "install ok installed" ]] || tools+=("$pkg")
done
install_missing "${tools[@]}"
# What dpkg-checkbuilddeps finds missing, without versions, alternatives (the first is taken) or architectures.
unmet=$(cd "$source_dir" && dpkg-checkbuilddeps 2>&1 | sed -n 's/.*Unmet build dependencies: //p' |
    sed -E 's/\([^)]*\)//g; s/ *\| *[^ ]+//g; s/:[a-z]+//g') || true
# shellcheck disable=SC2086 # one package a word
install_missing $unmet

# dpkg-buildpackage writes beside the source folder: build from a copy under FOLDER, holding the
# files git knows (or, outside a git checkout, the tree without its build folders).
version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
stage="$out/vellum-zeru-$version"
rm -rf "$stage"
mkdir -p "$stage"
if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' file; do [[ -e $file || -L $file ]] && printf '%s\0' "$file"; done |
        tar --null -T - -cf -) | tar -C "$stage" -xf -
else
    tar -C "$source_dir" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$stage" -xf -
fi

# Compilers through ccache when there is one; its folder is named, since debhelper moves HOME.
if command -v ccache >/dev/null; then
    export VELLUM_CCACHE=1
    CCACHE_DIR=$(ccache -k cache_dir)
    export CCACHE_DIR CCACHE_BASEDIR="$stage"
fi

start=$SECONDS
(cd "$stage" && dpkg-buildpackage -b -us -uc --jobs=auto) >"$out/build.log" 2>&1 || {
    tail -n 40 "$out/build.log" >&2
    echo "build-package: the build failed; the whole log is $out/build.log" >&2
    exit 1
}
rm -rf "$stage"
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
deb="$out/vellum-zeru_${version}_${arch}.deb"
echo "Built $deb in $((SECONDS - start)) s"

# Errors fail the build; warnings and notes are shown.
lintian --fail-on error --display-info "$deb"
