#!/bin/sh
# Checks that each binary named is a universal Mach-O binary for arm64 and x86_64 whose every part
# runs on macOS MINIMUM and later, printing the architectures and minimum versions it finds.
# Usage: universal.sh MINIMUM BINARY...; fails at the first binary that falls short.
set -eu
minimum=$1
shift
for binary do
  llvm-lipo-14 -info "$binary"
  if ! llvm-lipo-14 "$binary" -verify_arch arm64 x86_64; then
    echo "$binary: not a universal binary for arm64 and x86_64" >&2
    exit 1
  fi
  for arch in arm64 x86_64; do
    # The build-version load command: "minos 11.0" is the oldest release that loads it.
    found=$(llvm-objdump-14 --macho --private-headers --arch="$arch" "$binary" |
      awk '$1 == "minos" { print $2 }')
    echo "  $arch: minimum macOS ${found:-unknown}"
    if [ "$found" != "$minimum" ]; then
      echo "$binary ($arch): minimum macOS ${found:-unknown}, not $minimum" >&2
      exit 1
    fi
  done
done
