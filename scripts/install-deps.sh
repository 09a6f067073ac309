#!/bin/sh
# Installs the build and test dependencies from Debian's packages.
set -eu
packages="g++ cmake make clang-format libgtest-dev libdeflate-dev libutfcpp-dev libutf8proc-dev libhunspell-dev libsimdjson-dev libcli11-dev nlohmann-json3-dev unicode-data zlib1g-dev libxml2-dev libcpp-httplib-dev pkg-config groff-base time dictfmt dictzip python3-pyglossary python3-lxml hunspell-en-us hunspell-fr hunspell-es hunspell-it hunspell-de-de wamerican wfrench wspanish witalian wngerman wordnet-base chromium chromium-driver python3-selenium dpkg-dev lintian"
missing=""
for p in $packages; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends $missing
