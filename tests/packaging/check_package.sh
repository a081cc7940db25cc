#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from the build folder $1 into a temporary folder,
# then checks the files it installs and the packages it depends on.
set -euo pipefail
build_dir=$1
app_id=$2

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if ! cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    exit 1
fi
packages=("$out"/chanfuse_*.deb)
[ -f "${packages[0]}" ] || { echo "no package was built"; exit 1; }
package=${packages[0]}

failed=0
listing=$(dpkg-deb -c "$package" | awk '{ print $6 }')
for path in \
    ./usr/bin/chanfuse \
    ./usr/bin/chanfuse-cli \
    ./usr/lib/chanfuse/chanfuse-analyzer \
    ./usr/share/applications/chanfuse.desktop \
    ./usr/share/icons/hicolor/scalable/apps/chanfuse.svg \
    "./usr/share/metainfo/$app_id.metainfo.xml" \
    ./usr/share/man/man1/chanfuse.1.gz \
    ./usr/share/man/man1/chanfuse-cli.1.gz \
    ./usr/share/bash-completion/completions/chanfuse-cli \
    ./usr/share/doc/chanfuse/copyright; do
    if ! grep -qxF "$path" <<<"$listing"; then
        echo "missing from the package: $path"
        failed=1
    fi
done

depends=$(dpkg-deb -f "$package" Depends)
for needed in ffmpeg libavformat59 libavcodec59 libswresample4 libqt6sql6-sqlite libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libqt6dbus6; do
    if ! grep -qE "(^|, )$needed( |,|$)" <<<"$depends"; then
        echo "not in Depends: $needed"
        failed=1
    fi
done

if [ $failed -ne 0 ]; then
    echo "Depends: $depends"
    echo "$listing"
fi
exit $failed
