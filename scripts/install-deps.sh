#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  # toolchain and build
  g++ cmake ninja-build ccache pkg-config git python3 lld
  # the fuzz build: clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # user interface
  qt6-base-dev qt6-svg-dev libgl-dev
  # Qt's own texts (the folder chooser's labels) in the interface languages
  qt6-translations-l10n
  # libraries
  libsqlite3-dev zlib1g-dev libnanopb-dev nanopb python3-protobuf libcurl4-openssl-dev
  nlohmann-json3-dev libplist-dev libssl-dev libicu-dev libcpp-httplib-dev
  # fonts for the four interface languages
  fonts-noto-core fonts-noto-cjk fontconfig
  # tools the tests and scripts call
  xvfb xauth util-linux gzip coreutils findutils procps dbus
  # independent readers of what our code wrote; protoc also generates the wire messages
  libplist-utils sqlite3 protobuf-compiler openssl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
