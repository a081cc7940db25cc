#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Asks the bash completion of chanfuse-cli ($1) what it offers after a few
# command lines, as bash would on Tab, and compares (sorted).
set -uo pipefail
source "$1"

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/music" "$folder/mixes"
touch "$folder/music.txt"

failed=0
expect() {
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _chanfuse_cli
    # Folders come in the order the file system lists them.
    local offered
    offered=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [ "$offered" != "$expected" ]; then
        echo "after '$*': offered '$offered', expected '$expected'"
        failed=1
    fi
}

# The run numbers come from the history that chanfuse-cli lists.
chanfuse-cli() { printf '12\t2026-01-02 10:00\t3\t900\tMove to Trash\n7\t2025-12-30 09:00\t1\t20\tOverwrite\n'; }

expect "convert history scan undo" chanfuse-cli ""
expect "convert history scan undo" chanfuse-cli --jobs 4 ""
expect "" chanfuse-cli history ""
expect "12 7" chanfuse-cli undo ""
expect "byte-exact statistical" chanfuse-cli scan --method ""
expect "statistical" chanfuse-cli scan --method = st
expect "backup overwrite trash" chanfuse-cli convert --behavior ""
expect "" chanfuse-cli convert --timeout ""
expect "--behavior" chanfuse-cli --beh
expect "$folder/mixes $folder/music" chanfuse-cli convert --json "$folder/m"
exit $failed
