# Shared by scripts/run and scripts/test: installs what the build needs and
# builds the program. Sourced, not run.

VELKON_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# python3-serial: the RFC 2217 peer of the end-to-end tests; openssl: the
# TLS tests make their certificates and use it as a peer.
# python3-prometheus-client: reads the metrics page in its test.
# socat: the TLS peer of the end-to-end tests.
VELKON_PACKAGES=(g++ cmake make pkg-config qt6-base-dev qt6-translations-l10n libgl-dev libssl-dev libgtest-dev libgmock-dev python3-serial openssl python3-prometheus-client socat)

velkon_install_packages() {
    local missing=()
    local p
    for p in "${VELKON_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    else
        echo "Missing Debian packages. Run as root:" >&2
        echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
        return 1
    fi
}

# velkon_build DIR [cmake options...]
velkon_build() {
    local dir=$1
    shift
    cmake -S "$VELKON_ROOT" -B "$VELKON_ROOT/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$VELKON_ROOT/$dir" -j"$(nproc)"
}
