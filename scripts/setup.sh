#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12. Safe to run again.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev
    dovecot-pop3d dovecot-imapd dovecot-lmtpd python3 python3-aiosmtpd
    libssl-dev openssl libgmime-3.0-dev libxml2-dev libytnef0-dev libcurl4-openssl-dev
    nlohmann-json3-dev
    xvfb xauth imagemagick
    libxcb1-dev openbox trayer xdotool x11-utils
    libsystemd-dev systemd procps man-db dpkg-dev file lintian python3-prometheus-client
    prometheus
    clang libclang-rt-14-dev
)

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
echo "Installing: ${missing[*]}"
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
# Of prometheus only promtool is wanted (the metrics file and the sample alerts' test cases):
# the server that came with it does not stay running.
if [[ " ${missing[*]} " == *" prometheus "* ]] && [ -d /run/systemd/system ]; then
    $sudo systemctl disable --now prometheus.service >/dev/null 2>&1 || true
fi
