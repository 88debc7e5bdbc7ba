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

# Optional: the real-window check (tests/gui) and ./screenshot run the window
# under a virtual X server; the package check runs lintian,
# desktop-file-validate and appstreamcli, and the manual pages of the
# command-line programs are made with help2man. As root they are installed;
# otherwise those checks skip themselves and this says how to get them.
atv_optional=$(atv_missing xvfb xdotool imagemagick lintian desktop-file-utils appstream help2man \
                           ${ATV_OPTIONAL_PACKAGES:-})
if [ -n "$atv_optional" ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "Installing the optional $atv_optional..."
    atv_install $atv_optional || echo "Could not install $atv_optional: the real-window and package checks will be skipped."
  else
    echo "Optional packages are missing (the real-window and package checks are skipped without them):"
    echo "  sudo apt-get install -y $atv_optional"
  fi
fi

# Optional: the roll-out test (tests/ansible) and its benchmark use Debian's
# ansible-core, and skip themselves without it.
if [ -n "$(atv_missing ansible-core)" ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "Installing the optional ansible-core..."
    atv_install ansible-core || echo "Could not install ansible-core: the roll-out test will be skipped."
  else
    echo "Optional: sudo apt-get install -y ansible-core (else the roll-out test is skipped)"
  fi
fi
