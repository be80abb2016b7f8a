#!/usr/bin/env bash
# Installs the Debian packages named in the lists given (tools/packages.txt and
# friends). With --if-missing it only calls apt when something is missing.
set -euo pipefail
cd "$(dirname "$0")"
only_missing=0
if [ "${1:-}" = --if-missing ]; then only_missing=1; shift; fi
packages=$(cat "$@" | grep -v '^#' | xargs)

missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
if [ "$only_missing" = 1 ] && [ -z "$missing" ]; then
    exit 0
fi

sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends $packages
