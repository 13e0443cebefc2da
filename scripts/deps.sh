# Installs the Debian packages Tabulon needs when any of them is missing (sourced by run.sh and test.sh).
TABULON_PACKAGES="cmake make g++ pkg-config freetds-dev freetds-bin libsqlite3-dev sqlite3 libssl-dev libgtest-dev libgmock-dev qt6-base-dev xvfb xauth libdbd-sybase-perl python3"

install_deps() {
  local missing=""
  for p in $TABULON_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "installing:$missing"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  # shellcheck disable=SC2086
  $sudo apt-get install -y --no-install-recommends $missing
}

build_all() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build -j"$(nproc)"
}

# The sanitizer configuration: the access and dataset layers and their tests under
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan (the server is built normally).
build_sanitized() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABULON_SANITIZE=ON
  cmake --build build-asan -j"${TABULON_JOBS:-$(nproc)}" --target sanitized_tests
}
