#!/usr/bin/env bash
# Installs what building and testing need, on Debian, as root. Does nothing
# for packages already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-image-formats-plugins qt6-translations-l10n libgl-dev
  libjpeg62-turbo-dev libsimpleini-dev libtiff-dev libpng-dev libeigen3-dev
  qt6-svg-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth locales
  clang libclang-rt-14-dev clang-format git
  pybind11-dev python3-dev python3-numpy python3-pytest python3-jsonschema
  parallel help2man lintian dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A locale whose decimal separator is a comma, for the tests of number text.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
