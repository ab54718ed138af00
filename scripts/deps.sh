# Installs the Debian packages the build and the tests need, skipping those
# already present. Sourced by the other scripts; runs as root (or via sudo).
install_deps() {
    local packages=(
        cmake ninja-build g++ pkg-config
        qt6-base-dev libqt6opengl6-dev
        libgl-dev libopengl-dev libegl-dev libegl-mesa0 libgl1-mesa-dri libglu1-mesa-dev
        zlib1g-dev libpng-dev libgtest-dev libbenchmark-dev
        xvfb xauth
        python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest
        python3-matplotlib python3-distributed python3-tqdm
        clang libclang-rt-14-dev
        dpkg-dev fakeroot file help2man lintian desktop-file-utils shared-mime-info man-db
    )
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
