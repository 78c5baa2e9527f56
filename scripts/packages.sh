# SPDX-License-Identifier: LGPL-2.1-or-later
# Sourced by scripts/test, scripts/run and scripts/package: installs the Debian
# packages the build, the tests and the packaging need, only when one of them
# is missing. clang's sanitizer and libFuzzer runtimes (libclang-rt-14-dev)
# are only recommended by clang, and recommends are not installed here.
MQ_PACKAGES=(build-essential cmake ninja-build pkg-config libgmime-3.0-dev libsqlite3-dev
  qt6-base-dev xvfb xauth fonts-dejavu-core imagemagick x11-apps xdg-utils pybind11-dev
  python3-dev python3-pytest clang libgtest-dev libgmock-dev libbenchmark-dev isync
  fonts-liberation2 mpack libebook-contacts1.2-dev xdotool libxxhash-dev sqlite3
  debhelper dh-python dpkg-dev lintian desktop-file-utils appstream libssl-dev
  libclang-rt-14-dev)

mq_install_packages() {
  local missing=()
  local p
  for p in "${MQ_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
