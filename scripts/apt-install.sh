# shellcheck shell=sh
# The one place that installs Debian's packages, sourced by the scripts that
# need some, and the one form in which a leg that cannot run says so.

# apt_install FOR PACKAGE...: installs those of the packages that are not
# installed yet, when we are root with apt-get; FOR says what needs them.
# apt-get update runs once per run of scripts, before the first install:
# APT_UPDATED tells the scripts started after it. Status 0 when every
# package is installed; otherwise 1 after one line naming what is missing
# and how to get it.
apt_install() {
    apt_for=$1
    shift
    apt_missing=
    for apt_package; do
        dpkg-query -W -f='${Status}\n' "$apt_package" 2>/dev/null | grep -q ' installed$' ||
            apt_missing="$apt_missing $apt_package"
    done
    [ -n "$apt_missing" ] || return 0
    apt_missing=${apt_missing# }
    if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null 2>&1; then
        echo "Missing for $apt_for: $apt_missing (as root: apt-get install $apt_missing)."
        return 1
    fi
    echo "Installing for $apt_for: $apt_missing..."
    # apt's chatter is shown only when the install fails.
    if [ -z "${APT_UPDATED:-}" ] && apt_log=$(apt-get update -qq 2>&1); then
        APT_UPDATED=1
        export APT_UPDATED
    fi
    # Word splitting on purpose: one name per word.
    # shellcheck disable=SC2086
    apt_log=$(DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $apt_missing 2>&1) &&
        return 0
    printf '%s\n' "$apt_log"
    echo "Missing for $apt_for: $apt_missing (apt-get install $apt_missing failed)."
    return 1
}

# skipped WHAT WHY: the line of a leg or a check that does not run.
skipped() {
    echo "Skipped: $1 ($2)."
}
