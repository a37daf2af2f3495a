#!/usr/bin/env bash
# Sets up, builds and runs pvcodec on the bundled sample, showing that the
# bytes come back.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
"$here/scripts/build.sh" "$here/build" >/dev/null
pv="$here/build/bin/pvcodec"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sample="$here/samples/letter.txt"
key="$here/samples/demo.key"

echo "== raw: pad-encrypt and pad-decrypt the sample with AES-128-CBC"
"$pv" raw pad-encrypt --key-file "$key" < "$sample" > "$work/letter.raw"
"$pv" raw pad-decrypt --key-file "$key" < "$work/letter.raw" > "$work/letter.back"
echo "plain $(stat -c %s "$sample") bytes -> enciphered $(stat -c %s "$work/letter.raw") bytes"
cmp "$sample" "$work/letter.back" && echo "round trip: the bytes came back"
