# SPDX-License-Identifier: MIT
# Shared by scripts/run and scripts/test: install what is missing, then configure and build.

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian 12 packages that configuring and building need, with the few tools the threaded tests
# start (their sanitizer tree runs them while the other packages may still be installing).
build_packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libgl-dev
  nlohmann-json3-dev liburiparser-dev uuid-dev libcurl4-openssl-dev libicu-dev
  libevdev-dev libudev-dev libsystemd-dev libxcb1-dev libxcb-xkb-dev libxcb-xtest0-dev
  libxkbcommon-dev libxkbcommon-x11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format nodejs librsvg2-bin
  udev iproute2 dbus-daemon python3-dbus python3-gi
)
# What the other tests, the fuzzer, the package check and the application need besides.
test_packages=(
  clang libclang-rt-14-dev chromium
  xvfb xauth xdotool xclip x11-apps trayer libqt6svg6
  desktop-file-utils dpkg-dev lintian appstream man-db
  weston qt6-wayland wl-clipboard
  qemu-system-x86 busybox-static cpio xz-utils
)

# install_missing_packages [PACKAGE...]: installs those of the packages named (all of both lists
# by default) that are missing.
install_missing_packages() {
  local missing=() package
  [ $# -gt 0 ] || set -- "${build_packages[@]}" "${test_packages[@]}"
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  # Once per run: a later call, made in the background, finds the lists fresh.
  if [ -z "${package_lists_updated:-}" ]; then
    "${sudo[@]}" apt-get update -qq && package_lists_updated=1
  fi
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The options of build/, which scripts/run, scripts/test and scripts/package share: each names
# all of them, so none keeps what another left in the cache (tests off, say) and the tree stays
# warm for all three.
# Line tables (-g1) keep backtraces and profiles readable and build far faster than full debug
# information; configure a tree of your own for a debugger that shows variables.
main_tree_options=(-DKELVRA_HUB_WERROR=ON -DKELVRA_HUB_SANITIZE= -DKELVRA_HUB_BUILD_APP=ON
  -DKELVRA_HUB_BUILD_TESTS=ON -DKELVRA_HUB_BUILD_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")

# configure_tree DIR [cmake options...]: configures DIR with the options given.
# A new tree builds with Ninja, which compiles a library's files while the libraries under it
# still link, where make waits for them; a tree made before keeps its generator.
configure_tree() {
  local dir=$1 generator=()
  shift
  [ -e "$dir/CMakeCache.txt" ] || ! command -v ninja >/dev/null || generator=(-G Ninja)
  cmake -S "$repo_root" -B "$dir" "${generator[@]}" "$@" >/dev/null
}

# build_tree DIR [cmake options...]: configures DIR and builds all of it.
build_tree() {
  configure_tree "$@"
  cmake --build "$1" --parallel "$(nproc)"
}
