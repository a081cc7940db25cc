#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every long option the executable $1 lists in --help must be described in
# its manual source $2 and, when $3 is given, offered by that bash completion.
set -euo pipefail
executable=$1
manual=$2
completion=${3:-}

options=$("$executable" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || { echo "no options in --help"; exit 1; }
failed=0
for option in $options; do
    grep -qF -- "*$option*" "$manual" || { echo "not in the manual: $option"; failed=1; }
    if [ -n "$completion" ] &&
        ! grep -qE -- "(^|[[:space:]\"])$option([[:space:]\"]|$)" "$completion"; then
        echo "not in the completion: $option"
        failed=1
    fi
done
exit $failed
