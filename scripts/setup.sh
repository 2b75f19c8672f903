#!/usr/bin/env bash
# Installs what building, running and testing need (Debian 12). Skips apt
# entirely when everything is already there.
set -euo pipefail
packages=(cmake g++ ninja-build pkg-config libgtest-dev qt6-base-dev qt6-serialport-dev
          libqt6serialport6 fonts-dejavu-core xvfb xauth
          qt6-httpserver-dev qt6-websockets-dev libsodium-dev libsystemd-dev python3-prometheus-client
          # the station network: client library, and a broker, its tools and
          # a Python client for the tests, the demo and the benchmark
          libmosquitto-dev mosquitto mosquitto-clients python3-paho-mqtt openssl
          # alarms: mail and webhooks through libcurl; the tests' SMTP sink
          libcurl4-openssl-dev python3-aiosmtpd
          # the console's pages tested in a real browser
          chromium chromium-driver python3-selenium
          # the Debian package: cpack's dependency scan and the man-page check
          file dpkg-dev groff-base)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
