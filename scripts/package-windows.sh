#!/usr/bin/env bash
# The Windows release package in one command: cross-builds Tavirune.xll (and tavirune.exe when the
# build has it, with the stand-in XLCALL32.DLL that it needs beside it, both in the folder cli\ of
# their own, never beside the add-in) and writes dist/Tavirune-<version>-win-x64.zip with them and
# the installation note.
# The version is the one the add-in reports through Korvanth.Tavirune.getVersion.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
build="${TAVIRUNE_PACKAGE_BUILD:-$root/build-package-win}"
dist="$root/dist"

version_text="$(grep -o 'Korvanth - Tavirune, Version [0-9.]* ([0-9.]*)' "$root/functions/version.cpp" | head -n 1)"
version="$(sed -n 's/.*Version \([0-9.]*\).*/\1/p' <<<"$version_text")"
if [[ -z "$version" ]]; then
  echo "no version text found in functions/version.cpp" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTAVIRUNE_BUILD_TESTS=OFF -DTAVIRUNE_BUILD_BENCH=OFF -DTAVIRUNE_WERROR=ON >/dev/null
targets=(Tavirune)
if cmake --build "$build" --target help | grep -q '^tavirune:'; then targets+=(tavirune xlcall32_standin); fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

name="Tavirune-$version-win-x64"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage" "$dist"
# Symbols are of no use to the user; the stripped file is the same code.
x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/Tavirune.xll" "$build/Tavirune.xll"
cli_line="(the command-line host tavirune.exe is not part of this package)"
if [[ -f "$build/cli/tavirune.exe" ]]; then
  # The stand-in XLCALL32.DLL stays out of the add-in's folder: a spreadsheet program opening
  # Tavirune.xll must never find it there. tavirune.exe loads it from its own folder and finds
  # Tavirune.xll one folder up.
  mkdir -p "$stage/cli"
  x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/cli/tavirune.exe" "$build/cli/tavirune.exe"
  x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/cli/XLCALL32.DLL" "$build/cli/XLCALL32.DLL"
  cli_line="cli\\\\tavirune.exe   the command-line host: recalculates a workbook of CSV sheets with the add-in\n  cli\\\\XLCALL32.DLL   the callbacks of tavirune.exe, which plays the spreadsheet program"
fi
# The note with Windows line ends, so that every editor shows it right.
sed -e "s/@VERSION@/$version/" -e "s/@VERSION_TEXT@/$version_text/" -e "s/@CLI_LINE@/$cli_line/" \
  "$root/packaging/INSTALL-windows.txt" | sed 's/$/\r/' >"$stage/INSTALL.txt"

rm -f "$dist/$name.zip"
(cd "$build/package" && cmake -E tar cf "$dist/$name.zip" --format=zip "$name")
echo "$dist/$name.zip"
(cd "$build/package" && find "$name" -type f | sort)
