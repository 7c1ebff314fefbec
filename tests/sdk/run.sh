#!/bin/sh
# Runs the SDK end-to-end test with node's own test runner, first installing the pinned SDK from
# the lockfile when it is not there yet. VESK_CONNECTOR and VESK_DEMO_HOST name the built binaries.
set -eu
cd "$(dirname "$0")"
if [ ! -d node_modules/@modelcontextprotocol/sdk ]; then
  npm ci --no-audit --no-fund --loglevel=error
fi
exec node --test connector.test.mjs
