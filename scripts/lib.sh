# Shared by the scripts in this folder: package installation on Debian 12
# and the CMake configuration every build uses. Source it after cd'ing to
# the repository root.

# Installs the named Debian packages that are missing (apt-get update
# first), as root; exits with a hint when not root.
corvane_install_packages() {
    local missing=() package
    for package in "$@"; do
        [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = "install ok installed" ] ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]}; run this script as root (sudo $0)." >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y "${missing[@]}"
}

# What every build of the library and its tests needs.
CORVANE_BUILD_PACKAGES=(libtinyxml-dev libboost-dev libxmlsec1-dev libssl-dev zlib1g-dev
                        pkg-config cmake g++ make ccache libgtest-dev googletest
                        libhiredis-dev redis-server)

# cmake -S . -B DIR with the compiler cache and the given options; quiet
# unless it fails.
corvane_configure() {
    local dir=$1
    shift
    local log
    log=$(mktemp)
    if ! cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

# The one RelWithDebInfo build with tests in build/, which the suite, the
# leak check and the package test share.
CORVANE_MAIN_BUILD=build
corvane_main_build() {
    corvane_configure "$CORVANE_MAIN_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
    cmake --build "$CORVANE_MAIN_BUILD" -j2 "$@"
}
