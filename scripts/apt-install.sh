# Sourced by the scripts/ensure-* scripts.
# apt_install PACKAGE...: installs Debian's packages when we are root with
# apt-get; false, with the command to run, otherwise.
apt_install() {
    if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null 2>&1; then
        echo "Missing: $*. Install them with: sudo apt-get install $*"
        return 1
    fi
    echo "Installing $* with apt-get..."
    apt-get update -qq >/dev/null &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
