#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with. Idempotent:
# runs apt-get only when a package is missing. Run as root.
set -euo pipefail
packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libboost-dev libpugixml-dev nlohmann-json3-dev
  libssl-dev libsqlite3-dev libcpp-httplib-dev libyaml-cpp-dev libcli11-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
