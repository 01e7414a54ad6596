#!/usr/bin/env bash
# Installs the build into a fresh DESTDIR under prefix /usr, as the package
# does; the other tests here look at what lands there.
# install-root.sh BUILD ROOT
set -euo pipefail
build=$1 root=$2
rm -rf "$root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
