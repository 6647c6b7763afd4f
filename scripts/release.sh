#!/usr/bin/env bash
# Makes the Windows release zip, dist/vexlan-VERSION-win64.zip: vexlan.dll, vexlan_sim.dll,
# vexlan_recorder.dll, the Lua layer
# (vexlan/cockpit.lua), the examples,
# the reference and the install guide. Builds the Windows configuration first (Debian 12, as root);
# VEXLAN_RELEASE_BUILD names a Windows build folder to take the DLLs from as they are.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build=${VEXLAN_RELEASE_BUILD:-}
if [ -z "$build" ]; then
  bash scripts/setup.sh >&2
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target vexlan vexlan_sim vexlan_recorder >&2
  build="$root/build/windows"
fi
version=$(sed -n 's/^version = "\(.*\)-[0-9]*"$/\1/p' vexlan-*.rockspec)
name="vexlan-$version-win64"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name/examples" "$stage/$name/docs" "$stage/$name/vexlan"
for dll in vexlan.dll vexlan_sim.dll vexlan_recorder.dll; do
  x86_64-w64-mingw32-strip -o "$stage/$name/$dll" "$build/$dll"
done
cp lua/vexlan/*.lua "$stage/$name/vexlan/"
cp examples/*.lua examples/*.scenario "$stage/$name/examples/"
cp docs/*.md "$stage/$name/docs/"
cp packaging/windows/INSTALL.md packaging/windows/use-simulator.cmd packaging/windows/use-simulator.reg \
  packaging/windows/use-recorder.cmd "$stage/$name/"
mkdir -p dist
rm -f "dist/$name.zip"
(cd "$stage" && zip -qr -X "$root/dist/$name.zip" "$name")
echo "dist/$name.zip"
