# Installs the Debian packages that the build, the tests and the panel need, if any are missing.
# Sourced by the scripts of this folder; needs root or sudo only when something is missing.
zev_install_packages() {
    local missing=()
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update
    "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
    # Prometheus and Alertmanager come with services that listen on every address; the tests
    # run their own on loopback, so the ones just installed are stopped and left disabled.
    for package in "${missing[@]}"; do
        case "$package" in
            prometheus | prometheus-alertmanager)
                if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
                    "${sudo[@]}" systemctl disable --now "$package" >/dev/null 2>&1 || true
                fi ;;
        esac
    done
}

# The build, the panel's font, the venue server's WebSockets, password hashing and QR codes, the
# validators of the desktop entry and metainfo, openssl for the tests' certificates, and Qt's
# translations of its own texts (file dialogs, standard buttons).
ZEV_BUILD_PACKAGES=(build-essential cmake pkg-config qt6-base-dev qt6-serialport-dev
    qt6-websockets-dev libsodium-dev libqrencode-dev zlib1g-dev fonts-noto-cjk appstream desktop-file-utils ser2net iproute2
    help2man openssl qt6-translations-l10n qt6-l10n-tools)
# What the tests need besides: Chromium, its driver and Selenium for the page tests; Xvfb for
# the window on a real X server; Prometheus (its promtool for the shipped alert rules) and
# Alertmanager for the alerts' way from a room to a person.
ZEV_TEST_PACKAGES=(chromium chromium-driver python3-selenium xvfb xauth prometheus
    prometheus-alertmanager)

# What the tests load from the npm registry, at the versions tests/web/package-lock.json
# names: axe-core for the page tests, Redocly's CLI for the API description's lint. Node.js and
# npm from Debian where the machine has none.
zev_install_page_tools() {
    command -v npm >/dev/null || zev_install_packages nodejs npm
    [ -f "$ZEV_ROOT/tests/web/node_modules/axe-core/axe.min.js" ] &&
        [ -x "$ZEV_ROOT/tests/web/node_modules/.bin/redocly" ] && return 0
    npm ci --prefix "$ZEV_ROOT/tests/web" --no-audit --no-fund
}

# Configures and builds into build/ with two jobs. Under CI warnings are errors, and the
# debug information is line tables only (a backtrace keeps its lines; the build is a third
# quicker, and the package strips it anyway).
zev_build() {
    local werror=OFF ci=()
    if [ "${CI:-}" = "true" ]; then
        werror=ON
        ci=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")
    fi
    cmake -S "$ZEV_ROOT" -B "$ZEV_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEV_WERROR=$werror \
        "${ci[@]}" "$@"
    cmake --build "$ZEV_ROOT/build" -j2
}
