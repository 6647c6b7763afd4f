#!/usr/bin/env bash
# Installs what the build needs on a Debian 12 machine (as root), only what is missing.
#   scripts/setup.sh        everything: the Linux builds, their tests and sanitizers, the Windows build;
#                           unpacks Debian's Lua 5.1 sources into .deps/ for the Windows build of lua51.dll
#                           and the sanitizer builds' checked Lua
#   scripts/setup.sh run    only what running a script on Linux needs (the `run` preset)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build pkg-config clang g++
  liblua5.1-0-dev lua5.1 luajit libluajit-5.1-dev
  libgdk-pixbuf-2.0-dev libstb-dev
)
if [ "${1:-all}" != run ]; then
  packages+=(libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev g++-mingw-w64-x86-64 wine wine64 dpkg-dev
             luarocks make python3 zip unzip)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

need_source=0
[ "${1:-all}" = run ] || [ -f .deps/lua5.1/src/lua.h ] || need_source=1

if [ "$need_source" = 1 ] && ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ \
    && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  # Debian 12 keeps its sources in deb822 form; a deb-src twin of the main stanza is enough.
  cat > /etc/apt/sources.list.d/vexlan-deb-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

if [ "${#missing[@]}" -gt 0 ] || [ "$need_source" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
fi

if [ "$need_source" = 1 ]; then
  echo "setup: fetching the lua5.1 source package"
  rm -rf .deps/src && mkdir -p .deps/src
  (cd .deps/src && apt-get source -qq lua5.1 </dev/null >/dev/null 2>&1)
  dir=$(find .deps/src -maxdepth 1 -type d -name 'lua5.1-*' | head -n 1)
  [ -n "$dir" ] && [ -f "$dir/src/lua.h" ] || { echo "setup: lua5.1 source not found" >&2; exit 1; }
  rm -rf .deps/lua5.1 && mv "$dir" .deps/lua5.1 && rm -rf .deps/src
fi
