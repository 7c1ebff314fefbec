#!/bin/sh
# Installs a folder's npm packages from its lockfile, once per lockfile: node_modules keeps a copy
# of the lockfile it came from, and a folder whose copy matches is used as it is (the agent hosts'
# download is large). The tests that use the packages look for the same copy, and skip without it.
# Usage: npm-install.sh FOLDER (tests/sdk, tests/hosts).
set -eu
cd "$1"
if cmp -s package-lock.json node_modules/.installed-lockfile; then
  exit 0
fi
# None of the pinned packages needs its install scripts: each agent host ships its native binary in
# a platform package, and the SDK is plain JavaScript.
npm ci --ignore-scripts --no-audit --no-fund --loglevel=error
cp package-lock.json node_modules/.installed-lockfile
