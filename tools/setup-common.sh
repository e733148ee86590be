# Shared by tools/build-and-run and tools/build-and-test: install the Debian packages
# that are missing (only those), then configure once and build what changed.
set -euo pipefail

LUMIVOX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LUMIVOX_BUILD=${LUMIVOX_BUILD:-$LUMIVOX_ROOT/build}

lumivox_build_packages=(qt6-base-dev qt6-tools-dev qt6-tools-dev-tools
    qt6-l10n-tools libgl-dev cmake g++ ninja-build libmosquitto-dev libssl-dev)

# Installs those of the given packages that are not installed yet, as root or through sudo.
lumivox_require_packages() {
    local missing=() package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Configures the build directory the first time, then builds incrementally the targets
# named (everything, tests included, when none is).
lumivox_build() {
    if [ ! -f "$LUMIVOX_BUILD/build.ninja" ]; then
        cmake -S "$LUMIVOX_ROOT" -B "$LUMIVOX_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    fi
    if [ $# -gt 0 ]; then
        cmake --build "$LUMIVOX_BUILD" --target "$@"
    else
        cmake --build "$LUMIVOX_BUILD"
    fi
}
