#!/bin/sh
# Runs the SDK end-to-end test, both SDK generations, with node's own test runner. VESK_CONNECTOR
# and VESK_DEMO_HOST name the built binaries. The test needs no network: it exits with 77, saying
# why, until the pinned SDKs are installed from this lockfile (tools/npm-install.sh, which make test
# runs).
set -eu
cd "$(dirname "$0")"
if ! cmp -s package-lock.json node_modules/.installed-lockfile 2>/dev/null; then
  echo "SDK test skipped: the MCP SDK is not installed from tests/sdk/package-lock.json;" \
    "make test installs it (or sh tools/npm-install.sh tests/sdk)"
  exit 77
fi
exec node --test connector.test.mjs
