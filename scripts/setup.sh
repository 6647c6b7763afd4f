#!/usr/bin/env bash
# Installs what the build needs on a Debian 12 machine (as root), only what is missing.
#   scripts/setup.sh        everything: the Linux builds, their tests and sanitizers, the Windows build,
#                           headless Chromium and its driver for the live panels' browser test; unpacks
#                           Debian's Lua 5.1, LuaJIT and libmicrohttpd sources into .deps/ for the Windows
#                           build of lua51.dll, the sanitizer builds' checked Lua, LuaJIT for Windows and
#                           the Windows build's HTTP server (built there as a static library)
#   scripts/setup.sh run    only what running a script on Linux needs (the `run` preset)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build pkg-config clang g++
  liblua5.1-0-dev lua5.1 luajit libluajit-5.1-dev
  libgdk-pixbuf-2.0-dev libjpeg62-turbo-dev libstb-dev libmicrohttpd-dev fonts-dejavu-core
)
if [ "${1:-all}" != run ]; then
  packages+=(libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev g++-mingw-w64-x86-64 wine wine64 dpkg-dev
             luarocks make python3 zip unzip chromium chromium-driver python3-selenium
             python3-cairo)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

need_source=0
[ "${1:-all}" = run ] || { [ -f .deps/lua5.1/src/lua.h ] && [ -f .deps/luajit/src/luajit.h ] \
  && [ -f .deps/benchmark/CMakeLists.txt ] && [ -f .deps/libmicrohttpd-mingw/lib/libmicrohttpd.a ]; } || need_source=1

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

# Debian's source package NAME unpacked into .deps/FOLDER, unless it is there already.
fetch_source() {
  local name=$1 folder=$2 marker=$3
  [ -f ".deps/$folder/$marker" ] && return 0
  echo "setup: fetching the $name source package"
  rm -rf .deps/src && mkdir -p .deps/src
  (cd .deps/src && apt-get source -qq "$name" </dev/null >/dev/null 2>&1)
  local dir
  dir=$(find .deps/src -maxdepth 1 -type d -name "$name-*" | head -n 1)
  [ -n "$dir" ] && [ -f "$dir/$marker" ] || { echo "setup: $name source not found" >&2; exit 1; }
  rm -rf ".deps/$folder" && mv "$dir" ".deps/$folder" && rm -rf .deps/src
}
if [ "$need_source" = 1 ]; then
  fetch_source lua5.1 lua5.1 src/lua.h     # lua51.dll and lua.exe; the sanitizer builds' checked Lua
  fetch_source luajit luajit src/luajit.h  # LuaJIT for Windows, a second host for the release's test
  fetch_source benchmark benchmark CMakeLists.txt  # Google Benchmark for the Windows benchmarks
  fetch_source libmicrohttpd libmicrohttpd configure  # the HTTP server for the Windows build
fi

# libmicrohttpd for Windows, static (about 30 s). Its library constructor would start Winsock inside the
# DLL's DllMain, which Windows forbids; without it, the library starts Winsock at the server's start.
if [ "${1:-all}" != run ] && [ ! -f .deps/libmicrohttpd-mingw/lib/libmicrohttpd.a ]; then
  echo "setup: building libmicrohttpd for Windows"
  rm -rf .deps/libmicrohttpd-mingw && mkdir -p .deps/libmicrohttpd-mingw/build
  (cd .deps/libmicrohttpd-mingw/build && ../../libmicrohttpd/configure -q --host=x86_64-w64-mingw32 \
     --disable-https --disable-doc --disable-examples --disable-curl --disable-nls --enable-static \
     --disable-shared --prefix="$PWD/.." CFLAGS="-O2 -D_GNUC_ATTR_CONSTR_NOT_SUPPORTED=1" >/dev/null \
   && make -j2 >/dev/null && make install >/dev/null) || { echo "setup: libmicrohttpd build failed" >&2; exit 1; }
  rm -rf .deps/libmicrohttpd-mingw/build
fi
