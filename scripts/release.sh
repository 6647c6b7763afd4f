#!/usr/bin/env bash
# Makes the Windows release zip, dist/vexlan-VERSION-win64.zip, one folder that works wherever it is
# unpacked: vexlan.dll, vexlan_sim.dll, vexlan_recorder.dll, the Lua layer (vexlan\*.lua), the .cmd files
# that register the simulator or the recorder, run the examples and check the set-up, a Lua 5.1
# interpreter for them (lua\), the examples,
# the reference and the install guide. Builds the Windows configuration first (Debian 12, as root);
# VEXLAN_RELEASE_BUILD names a Windows build folder to take the binaries from as they are.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build=${VEXLAN_RELEASE_BUILD:-}
if [ -z "$build" ]; then
  bash scripts/setup.sh >&2
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target vexlan vexlan_sim vexlan_recorder lua >&2
  build="$root/build/windows"
fi
version=$(sed -n 's/^version = "\(.*\)-[0-9]*"$/\1/p' vexlan-*.rockspec)
name="vexlan-$version-win64"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name/examples" "$stage/$name/docs" "$stage/$name/vexlan" "$stage/$name/lua"
for binary in vexlan.dll vexlan_sim.dll vexlan_recorder.dll lua/lua.exe lua/lua51.dll; do
  x86_64-w64-mingw32-strip -o "$stage/$name/$binary" "$build/${binary#lua/}"
done
cp .deps/lua5.1/COPYRIGHT "$stage/$name/lua/COPYRIGHT.txt"
cp lua/vexlan/*.lua "$stage/$name/vexlan/"
cp "$build/DejaVu-LICENSE.txt" "$stage/$name/vexlan/"  # the licence of the font built into vexlan.dll
cp examples/*.lua examples/*.scenario examples/*.png "$stage/$name/examples/"
cp docs/*.md "$stage/$name/docs/"
cp packaging/windows/INSTALL.md "$stage/$name/"
# cmd.exe reads batch files by lines ending in CR LF; with bare LF its jumps to labels can go astray.
for script in packaging/windows/*.cmd; do
  sed 's/\r*$/\r/' "$script" >"$stage/$name/$(basename "$script")"
done
mkdir -p dist
rm -f "dist/$name.zip"
(cd "$stage" && zip -qr -X "$root/dist/$name.zip" "$name")
echo "dist/$name.zip"
