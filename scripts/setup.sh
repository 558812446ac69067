# Shared by scripts/run and scripts/test (sourced, not run): installs the
# Debian packages that are missing, then configures and builds.
set -euo pipefail

QUILLPEEK_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# What building, running and packaging need (rsvg-convert renders the icons,
# dpkg-shlibdeps and file compute the package's Depends; libwmf draws WMF
# previews with the URW fonts, which it only recommends).
RUN_PACKAGES=(build-essential cmake ninja-build pkg-config
  libarchive-dev libspng-dev libjpeg62-turbo-dev libsdl2-dev libseccomp-dev
  libgtest-dev libbenchmark-dev librsvg2-bin dpkg-dev file
  libpixman-1-dev zlib1g-dev
  libxml2-dev libfreetype-dev libharfbuzz-dev libfontconfig-dev fonts-dejavu-core
  libwmf-dev fonts-urw-base35)
# What the tests need besides: a sanitizer-capable clang for the fuzzers, an
# X server and its tools for the end-to-end tests, the reference tools, the
# validators of the installed tree and of the package, a thumbnail service
# on a private bus for the thumbnailer's, the thumbnailer it is compared with,
# and the OCR that reads the sketches back.
# The Wayland end-to-end tests run weston (with libdecor's title bars for the
# window and zenity, through which SDL shows message windows on Wayland).
TEST_PACKAGES=(clang libclang-rt-14-dev xvfb xauth xdotool x11-utils x11-apps
  imagemagick libarchive-tools unzip zip hyperfine feh time
  desktop-file-utils appstream man-db lintian
  tumbler dbus dbus-daemon libglib2.0-bin libgsf-bin
  weston libdecor-0-plugin-1-cairo zenity tesseract-ocr tesseract-ocr-eng)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
  local missing=()
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# configure_and_build DIR [cmake options...]; builds every target, or only
# $BUILD_TARGET when set.
configure_and_build() {
  local dir="$1"
  shift
  cmake -S "$QUILLPEEK_ROOT" -B "$QUILLPEEK_ROOT/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$QUILLPEEK_ROOT/$dir" -j "$(nproc)" ${BUILD_TARGET:+--target "$BUILD_TARGET"}
}
