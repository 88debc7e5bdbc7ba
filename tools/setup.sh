# Sourced by ./test, ./run and the other scripts: makes sure the Debian
# packages the build needs are installed. As root it installs what is
# missing; otherwise it prints the one command to run and stops.
atv_packages=(cmake make g++ pkg-config qt6-base-dev libsqlite3-dev libgtest-dev libgmock-dev
              libcli11-dev nlohmann-json3-dev sqlite3 ${ATV_EXTRA_PACKAGES:-})

atv_missing=()
for p in "${atv_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || atv_missing+=("$p")
done
if [ ${#atv_missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "Installing ${atv_missing[*]} ..."
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${atv_missing[@]}" >/dev/null
  else
    echo "Some packages are missing. Run this once, then try again:"
    echo "  sudo apt-get install -y ${atv_missing[*]}"
    exit 1
  fi
fi

# Optional: the real-window check (tests/gui) and ./screenshot run the window
# under a virtual X server. As root they are installed; otherwise the check
# skips itself and this says how to get them.
atv_optional_packages=(xvfb xdotool imagemagick ${ATV_OPTIONAL_PACKAGES:-})
atv_missing=()
for p in "${atv_optional_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || atv_missing+=("$p")
done
if [ ${#atv_missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "Installing the optional ${atv_missing[*]} ..."
    export DEBIAN_FRONTEND=noninteractive
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${atv_missing[@]}" >/dev/null; } ||
      echo "Could not install ${atv_missing[*]}: the real-window check will be skipped."
  else
    echo "Optional packages are missing (the real-window check is skipped without them):"
    echo "  sudo apt-get install -y ${atv_missing[*]}"
  fi
fi
