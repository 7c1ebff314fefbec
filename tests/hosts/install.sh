#!/bin/sh
# Installs the agent hosts from the lockfile, once per machine: node_modules keeps a copy of the
# lockfile it came from, and a folder whose copy matches is used as it is (the download is large).
set -eu
cd "$(dirname "$0")"
if cmp -s package-lock.json node_modules/.installed-lockfile; then
  exit 0
fi
# Each host ships its native binary in a platform package, so the install scripts have nothing to add.
npm ci --ignore-scripts --no-audit --no-fund --loglevel=error
cp package-lock.json node_modules/.installed-lockfile
