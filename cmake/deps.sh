# Debian packages the build and the tests need; installed when missing.
kelvo_install_deps() {
    local pkgs="cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64"
    if [ "$1" = test ]; then
        pkgs="$pkgs g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev xvfb xauth python3 fonts-dejavu-core osslsigncode openssl"
    fi
    local missing=""
    for p in $pkgs; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
}
