#!/usr/bin/env bash
# Sets up, builds and runs pvcodec on the bundled sample: encrypts a copy of
# the letter into a container, describes the container, decrypts it again and
# shows that the bytes came back; then the same through the raw cipher.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
"$here/scripts/build.sh" "$here/build" >/dev/null
pv="$here/build/bin/pvcodec"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sample="$here/samples/letter.txt"
key="$here/samples/demo.key"

echo "== encrypt: the letter into a protected container"
"$pv" encrypt --key-file "$key" "$sample" "$work/letter.pvc"
echo "plain $(stat -c %s "$sample") bytes -> container $(stat -c %s "$work/letter.pvc") bytes"
echo
echo "== inspect: what the container says without its key"
"$pv" inspect "$work/letter.pvc"
echo
echo "== decrypt: the container back into the letter"
"$pv" decrypt --key-file "$key" "$work/letter.pvc" "$work/letter.txt"
cmp "$sample" "$work/letter.txt" && echo "round trip: the bytes came back"
echo
echo "== raw: pad-encrypt and pad-decrypt the letter with AES-128-CBC, no container"
"$pv" raw pad-encrypt --key-file "$key" < "$sample" > "$work/letter.raw"
"$pv" raw pad-decrypt --key-file "$key" < "$work/letter.raw" | cmp - "$sample" && echo "round trip: the bytes came back"
