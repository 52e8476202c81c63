#!/bin/sh
# Installs the Debian build packages the project needs when one is missing
# and we are root; otherwise only says what is missing.
set -e
pkgs="cmake g++ make pkg-config zlib1g-dev libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
pybind11-dev python3-dev python3-numpy python3-pytest python3-matplotlib libhdf5-dev libsqlite3-dev
openssh-client openssh-server libdeflate-dev gcovr"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# sshd refuses to start without its privilege-separation folder; the remote
# route's test starts one.
if [ "$(id -u)" = 0 ] && [ ! -d /run/sshd ]; then mkdir -p /run/sshd; fi
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing missing build packages:$missing"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
else
  echo "Missing build packages:$missing (install them with apt-get as root)" >&2
fi
