# Sourced by the scripts in tools/: installs the Debian packages a step needs
# and that the machine does not have yet (through sudo when not root).

# Everything a build of the program and its tests needs.
base_packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev
    libhidapi-dev libudev-dev libgl-dev
)

need_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
