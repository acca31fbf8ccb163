# SPDX-License-Identifier: MIT
# Shared by scripts/run and scripts/test: install what is missing, then configure and build.

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian 12 packages the build, the tests and the application need.
packages=(
  build-essential cmake pkg-config git
  qt6-base-dev libgl-dev
  nlohmann-json3-dev liburiparser-dev uuid-dev libcurl4-openssl-dev libicu-dev
  libevdev-dev libudev-dev libsystemd-dev libxcb1-dev libxcb-xkb-dev libxcb-xtest0-dev
  libxkbcommon-dev libxkbcommon-x11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-format libclang-rt-14-dev
  nodejs
  xvfb xauth xdotool udev
  iproute2 desktop-file-utils
  dpkg-dev lintian appstream librsvg2-bin man-db
  libqt6svg6 trayer xdotool xclip x11-apps
  dbus-daemon python3-dbus python3-gi weston qt6-wayland wl-clipboard
  qemu-system-x86 busybox-static cpio xz-utils
)

install_missing_packages() {
  local missing=()
  for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build_tree DIR [cmake options...]: configures DIR once and builds it.
build_tree() {
  local dir=$1
  shift
  cmake -S "$repo_root" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" --parallel "$(nproc)"
}
