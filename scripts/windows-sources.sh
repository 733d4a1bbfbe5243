#!/usr/bin/env bash
# Fetches the Debian source packages that the Windows cross build compiles itself, because Debian
# ships its library for Linux only: benchmark (Google Benchmark). Unpacked, with Debian's patches,
# into DIR/benchmark.
# Usage: scripts/windows-sources.sh DIR
set -euo pipefail
dir="$1"
packages=(benchmark)
missing=()
for package in "${packages[@]}"; do [[ -d "$dir/$package" ]] || missing+=("$package"); done
((${#missing[@]})) || exit 0

list=/etc/apt/sources.list.d/tavirune-sources.sources
if [[ ! -f "$list" ]]; then
  cat >"$list" <<'LIST'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
LIST
  apt-get update -qq
fi
dpkg-query -W -f='${Status}' dpkg-dev 2>/dev/null | grep -q "install ok installed" ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends dpkg-dev

mkdir -p "$dir"
work="$(mktemp -d "$dir/fetch.XXXXXX")"
for package in "${missing[@]}"; do
  (cd "$work" && apt-get source -qq "$package" >/dev/null 2>&1)
  unpacked="$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -1)"
  [[ -n "$unpacked" ]] || { echo "could not fetch the source package $package" >&2; exit 1; }
  mv "$unpacked" "$dir/$package"
done
rm -rf "$work"
