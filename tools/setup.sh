# Sourced by ./test, ./run and the other scripts: makes sure the Debian
# packages the build needs are installed. As root it installs what is
# missing; otherwise it prints the one command to run and stops.

# atv_missing PACKAGE...: prints those that are not installed.
atv_missing() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || printf '%s ' "$p"
  done
}

# atv_install PACKAGE...: installs them as root; answers non-zero when it cannot.
atv_install() {
  [ "$(id -u)" = 0 ] || return 1
  export DEBIAN_FRONTEND=noninteractive
  # Waits for another apt run to finish rather than failing at once.
  apt-get update -qq && apt-get install -y -qq -o DPkg::Lock::Timeout=300 --no-install-recommends "$@" >/dev/null
}

# dpkg-dev gives the hardening build flags (dpkg-buildflags) and the
# package's library dependencies (dpkg-shlibdeps); strace drives the fault tests.
atv_required=$(atv_missing cmake make g++ pkg-config qt6-base-dev qt6-svg-dev libsqlite3-dev libgtest-dev libgmock-dev \
                           libcli11-dev nlohmann-json3-dev sqlite3 dpkg-dev strace ${ATV_EXTRA_PACKAGES:-})
if [ -n "$atv_required" ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "Installing $atv_required..."
    atv_install $atv_required
  else
    echo "Some packages are missing. Run this once, then try again:"
    echo "  sudo apt-get install -y $atv_required"
    exit 1
  fi
fi

# atv_offer "PACKAGES" CHECKS HINT: installs optional packages as root (CHECKS
# are skipped when that fails); otherwise prints HINT, the command to get them.
atv_offer() {
  [ -n "$1" ] || return 0
  if [ "$(id -u)" = 0 ]; then
    echo "Installing the optional $1..."
    atv_install $1 || echo "Could not install $1: the $2 will be skipped."
  else
    printf '%s\n' "$3"
  fi
}

# The real-window check (tests/gui) and ./screenshot run the window under a
# virtual X server; the package check runs lintian, desktop-file-validate and
# appstreamcli; help2man makes the manual pages of the command-line programs.
atv_optional=$(atv_missing xvfb xdotool imagemagick lintian desktop-file-utils appstream help2man \
                           ${ATV_OPTIONAL_PACKAGES:-})
atv_offer "$atv_optional" "real-window and package checks" "Optional packages are missing (the real-window and \
package checks are skipped without them):
  sudo apt-get install -y $atv_optional"
# The roll-out test (tests/ansible) and its benchmark use Debian's ansible-core.
[ -z "$(atv_missing ansible-core)" ] || atv_offer ansible-core "roll-out test" \
  "Optional: sudo apt-get install -y ansible-core (else the roll-out test is skipped)"
