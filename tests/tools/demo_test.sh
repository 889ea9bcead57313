#!/usr/bin/env bash
# tools/demo on a fresh machine, with stand-ins for the package tools and
# CMake: what it installs (only the native program's packages the machine
# lacks, whichever commands are there) and when it configures (whenever the
# build folder has no build file, a failed configure's cache or not).
#
# usage: demo_test.sh [REPO_ROOT]
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export KV_STUBS=$work
mkdir -p "$work/bin"

# dpkg-query: every package is installed but those listed in $KV_STUBS/missing.
cat > "$work/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
for package; do :; done
grep -qx -- "$package" "$KV_STUBS/missing" 2>/dev/null && exit 1
printf 'install ok installed'
EOF
# apt-get and cmake only note how they were called; a configure leaves a
# build file, as CMake's does.
cat > "$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >> "$KV_STUBS/calls"
EOF
cat > "$work/bin/cmake" <<'EOF'
#!/usr/bin/env bash
echo "cmake $*" >> "$KV_STUBS/calls"
while [ $# -gt 0 ]; do
  if [ "$1" = -B ]; then touch "$2/build.ninja"; fi
  shift
done
EOF
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH"

cd "$root"
# shellcheck source=../../tools/demo
source tools/demo

failed=0
check() { # name expected actual
  if [ "$2" != "$3" ]; then
    printf 'FAILED %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    failed=$((failed + 1))
  fi
}
calls() { if [ -f "$work/calls" ]; then grep -o "$1" "$work/calls" | tr '\n' ' ' | sed 's/ $//'; fi; }

# The packages: the machine lacks the ones listed; apt-get is asked for the
# native program's among them only.
while IFS='|' read -r name missing expected; do
  rm -f "$work/calls"
  printf '%s\n' $missing > "$work/missing"
  install_missing >/dev/null
  check "install: $name" "$expected" "$(calls 'apt-get install.*' | sed 's/.*--no-install-recommends *//')"
done <<'EOF'
nothing missing||
curl's development files, the commands all there|libcurl4-openssl-dev|libcurl4-openssl-dev
Wine and mingw are not the demo's|wine64 mingw-w64 xvfb|
every native package|cmake ninja-build g++ libcurl4-openssl-dev python3 wine64|cmake ninja-build g++ libcurl4-openssl-dev python3
EOF

# The build folder: what it holds -> the CMake calls made.
while IFS='|' read -r name files expected; do
  rm -rf "$work/calls" "$work/build"
  mkdir -p "$work/build"
  for f in $files; do touch "$work/build/$f"; done
  build_program "$work/build"
  check "build: $name" "$expected" "$(calls 'cmake -*[a-z]*')"
done <<'EOF'
a new folder||cmake --fresh cmake --build
a failed configure's cache, no build file|CMakeCache.txt|cmake --fresh cmake --build
configured by Ninja|CMakeCache.txt build.ninja|cmake --build
configured by make|CMakeCache.txt Makefile|cmake --build
EOF

if [ "$failed" -ne 0 ]; then
  echo "0 passed, $failed failed"
  exit 1
fi
echo "demo_test: all passed"
