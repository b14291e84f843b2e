#!/usr/bin/env bash
# The package's version rises with every commit and with changes not yet committed, and stays
# above the versions that were built before it was derived (6.0-1).
#   package_version.sh SOURCE_DIR VERSION
set -euo pipefail
source_dir=$1
version=$2
command -v git >/dev/null && git -c safe.directory='*' -C "$source_dir" rev-parse HEAD >/dev/null 2>&1 ||
    { echo "not a git checkout: nothing to compare"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git -c safe.directory='*' clone -q --no-hardlinks "$source_dir" "$work/tree"
cd "$work/tree"
git config user.name test && git config user.email test@localhost
of() { cmake -DVERSION="$version" -DSOURCE_DIR="$work/tree" -P "$source_dir/packaging/version.cmake" 2>&1; }
first=$(of)
git commit -q --allow-empty -m later
second=$(of)
echo changed >>README.md
third=$(of)
sleep 1
fourth=$(of)
echo "$first < $second < $third < $fourth"
newer() { dpkg --compare-versions "$2-1" gt "$1-1" || { echo "FAIL: $2 is not newer than $1"; exit 1; }; }
newer 6.0 "$first"
newer "$first" "$second"
newer "$second" "$third"
newer "$third" "$fourth"
case "$first" in "$version+git"*) ;; *) echo "FAIL: $first is not derived from $version"; exit 1 ;; esac
