#!/usr/bin/env bash
# Checks the Debian package that scripts/package built, unpacked into a
# temporary root with dpkg-deb: its dependencies, its files, the systemd
# unit, the maintainer scripts (run against stand-ins for adduser, chown and
# systemctl, so nothing on this machine changes), and the unpacked programs
# carrying one alarm from a simulated device to a simulated station.
#
#   tst_package.sh <folder of the .deb> <expected version>
#
# Exits 77 (skipped) when the folder holds no package, unless
# LUMARI_REQUIRE_PACKAGE=1; 1 when a check fails.
set -uo pipefail

packages=$1
version=$2
appdir_in_package=opt/lumari
unit_in_package=lib/systemd/system/lumari.service
# Generous: only a hang should reach them.
start_seconds=30
delivery_seconds=60

shopt -s nullglob
debs=("$packages"/*.deb)
shopt -u nullglob
if [ ${#debs[@]} -eq 0 ]; then
    echo "No package in $packages; scripts/package builds it."
    # scripts/test has just built it: there, a missing package is a failure.
    [ "${LUMARI_REQUIRE_PACKAGE:-0}" = 1 ] && exit 1
    exit 77
fi
if [ ${#debs[@]} -ne 1 ]; then
    echo "FAIL: more than one package in $packages: ${debs[*]}"
    exit 1
fi
deb=${debs[0]}
echo "Package: $deb"

work=$(mktemp -d "${TMPDIR:-/tmp}/lumari-package.XXXXXX")
root=$work/root
background=()
cleanup() {
    local pid
    for pid in "${background[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
section() { printf -- '--- %s\n' "$*"; }

# wait_for SECONDS COMMAND...: polls the command every 0.1 s.
wait_for() {
    local limit=$(($1 * 10)) i
    shift
    for ((i = 0; i < limit; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

if ! dpkg-deb -x "$deb" "$root" || ! dpkg-deb -e "$deb" "$work/control"; then
    echo "FAIL: dpkg-deb cannot unpack $deb"
    exit 1
fi
appdir=$root/$appdir_in_package

section "control: name, version and a dependency for every library the programs load"
check_control() {
    local field
    field=$(dpkg-deb -f "$deb" Package)
    [ "$field" = lumari ] || fail "package name is '$field'"
    field=$(dpkg-deb -f "$deb" Version)
    [ "$field" = "$version" ] || fail "package version is '$field', the project is $version (a stale package?)"
    local depends
    depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//')
    grep -qx adduser <<<"$depends" || fail "Depends lacks adduser, which postinst uses"
    local program needed library path owner candidate
    for program in "$appdir"/Lumari "$appdir"/lumari-device "$appdir"/lumari-journal "$appdir"/lumari-station; do
        [ -f "$program" ] || continue
        needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
        while read -r library path; do
            # Only what the program itself names: the libraries those load
            # are their packages' business.
            grep -qxF "$library" <<<"$needed" || continue
            owner=""
            for candidate in "$path" "$(readlink -f "$path")" "${path#/usr}" "/usr$path"; do
                owner=$(dpkg -S "$candidate" 2>/dev/null | head -n 1 | cut -d: -f1) && [ -n "$owner" ] && break
            done
            if [ -z "$owner" ]; then
                fail "$(basename "$program") loads $library ($path), which no installed package owns"
            elif ! grep -qx "$owner" <<<"$depends"; then
                fail "$(basename "$program") loads $library from $owner, which Depends does not name"
            fi
        done < <(ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// { print $1, $3 }')
    done
}
check_control

section "files: one folder with the programs and translate/, and the unit"
check_files() {
    local expected actual
    expected=$(printf '%s\n' \
        "$appdir_in_package/Lumari" \
        "$appdir_in_package/lumari-device" \
        "$appdir_in_package/lumari-journal" \
        "$appdir_in_package/lumari-station" \
        "$appdir_in_package/translate/velmora_ru.qm" \
        "$appdir_in_package/translate/velmoracomlib_ru.qm" \
        "$appdir_in_package/translate/velmoranetworklib_ru.qm" \
        "$unit_in_package" | sort)
    actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
    if [ "$actual" != "$expected" ]; then
        fail "the package's files differ from the expected set:"
        diff <(echo "$expected") <(echo "$actual") | sed -n 's/^[<>]/   &/p'
    fi
    local program
    for program in Lumari lumari-device lumari-journal lumari-station; do
        [ -x "$appdir/$program" ] || fail "$appdir_in_package/$program is not executable"
    done
    local qm
    for qm in "$appdir"/translate/*.qm; do
        [ -e "$qm" ] || { fail "no translation in $appdir_in_package/translate/"; break; }
        [ -s "$qm" ] || fail "${qm#"$root"/} is empty"
    done
    # Owned by root and not writable by others: the service user writes
    # only conf/, log/ and spool/, which postinst creates.
    local listing
    listing=$(dpkg-deb -c "$deb")
    if awk '{ print $2 }' <<<"$listing" | grep -qv '^root/root$'; then
        fail "files in the package are not all root/root"
    fi
    if awk '{ print $1 }' <<<"$listing" | grep -q '^........w'; then
        fail "files in the package are writable by everyone"
    fi
}
check_files

section "unit: the service user, the serial group, restarts, no screen"
check_unit() {
    local unit=$root/$unit_in_package line
    [ -f "$unit" ] || { fail "no $unit_in_package"; return; }
    for line in \
        "User=lumari" \
        "SupplementaryGroups=dialout" \
        "Restart=on-failure" \
        "Type=notify" \
        "WatchdogSec=30" \
        "Environment=QT_QPA_PLATFORM=offscreen" \
        "ExecStart=/$appdir_in_package/Lumari" \
        "WorkingDirectory=/$appdir_in_package" \
        "WantedBy=multi-user.target"; do
        grep -qxF "$line" "$unit" || fail "the unit lacks the line $line"
    done
    grep -qE '^RestartSec=[1-9][0-9]*s?$' "$unit" || fail "the unit waits no RestartSec between restarts"
    # systemd's own reading of the unit, with the program where it is
    # unpacked; any message is a fault (unknown key, bad value).
    if command -v systemd-analyze >/dev/null 2>&1; then
        mkdir -p "$work/unit"
        sed "s|/$appdir_in_package|$appdir|g" "$unit" >"$work/unit/lumari.service"
        local verdict
        verdict=$(systemd-analyze verify --man=no "$work/unit/lumari.service" 2>&1)
        [ -z "$verdict" ] || fail "systemd-analyze verify: $verdict"
    else
        echo "systemd-analyze not installed; the unit's syntax is not verified"
    fi
}
check_unit

section "maintainer scripts: present, executable, valid sh"
for script in postinst prerm postrm; do
    if [ ! -x "$work/control/$script" ]; then
        fail "no executable $script in the control archive"
    elif ! sh -n "$work/control/$script"; then
        fail "$script is not valid sh"
    fi
done

# --- The maintainer scripts, run as dpkg runs them, against stand-ins.
# DPKG_ROOT moves the folders into a temporary root. The stand-ins keep the
# system's users and groups in files and log every call; PATH holds only
# them and the few real tools the scripts need.
fake=$work/fake
make_stand_ins() {
    local with_adduser=$1 with_systemctl=$2
    rm -rf "$fake"
    mkdir -p "$fake/bin" "$fake/state"
    local tool
    for tool in mkdir chmod rm rmdir cat; do
        ln -s "$(command -v "$tool")" "$fake/bin/$tool"
    done
    : >"$fake/state/passwd"
    echo "dialout" >"$fake/state/group"
    : >"$fake/state/members"
    : >"$fake/state/calls"
    echo 0 >"$fake/state/systemctl_rc"
    local state=$fake/state
    cat >"$fake/bin/getent" <<EOF
#!/bin/sh
/bin/grep -qx "\$2" "$state/\$1"
EOF
    # adduser --system ... NAME creates NAME; adduser [--quiet] USER GROUP
    # adds USER to GROUP. useradd and usermod the same for the fallback.
    cat >"$fake/bin/adduser" <<EOF
#!/bin/sh
echo "adduser \$*" >>"$state/calls"
for last; do :; done
case " \$* " in
    *" --system "*) echo "\$last" >>"$state/passwd"; exit 0 ;;
esac
set -- \$(echo "\$*" | /bin/sed 's/--quiet//')
echo "\$2 \$1" >>"$state/members"
EOF
    cat >"$fake/bin/addgroup" <<EOF
#!/bin/sh
echo "addgroup \$*" >>"$state/calls"
for last; do :; done
echo "\$last" >>"$state/group"
EOF
    cat >"$fake/bin/useradd" <<EOF
#!/bin/sh
echo "useradd \$*" >>"$state/calls"
for last; do :; done
echo "\$last" >>"$state/passwd"
EOF
    cat >"$fake/bin/usermod" <<EOF
#!/bin/sh
echo "usermod \$*" >>"$state/calls"
# usermod --append --groups GROUP USER
echo "\$3 \$4" >>"$state/members"
EOF
    cat >"$fake/bin/groupadd" <<EOF
#!/bin/sh
echo "groupadd \$*" >>"$state/calls"
EOF
    cat >"$fake/bin/chown" <<EOF
#!/bin/sh
echo "chown \$*" >>"$state/calls"
EOF
    cat >"$fake/bin/systemctl" <<EOF
#!/bin/sh
echo "systemctl \$*" >>"$state/calls"
exit \$(/bin/cat "$state/systemctl_rc")
EOF
    chmod +x "$fake/bin"/*
    [ "$with_adduser" = yes ] || rm "$fake/bin/adduser" "$fake/bin/addgroup"
    [ "$with_systemctl" = yes ] || rm "$fake/bin/systemctl"
}

# run_script NAME ARGS...: the script's exit code; its standard error in
# $fake/stderr.
run_script() {
    local script=$1
    shift
    PATH="$fake/bin" DPKG_ROOT="$work/target" /bin/sh "$work/control/$script" "$@" </dev/null 2>"$fake/stderr"
}

target_appdir=$work/target/$appdir_in_package
called() { grep -qE -e "$1" "$fake/state/calls"; }
systemd_runs() { [ -d /run/systemd/system ]; }

check_installed_service() {
    local label=$1 with_systemctl=$2 folder
    grep -qx lumari "$fake/state/passwd" || fail "$label: no user lumari"
    grep -qx "dialout lumari" "$fake/state/members" || fail "$label: lumari is not in dialout"
    for folder in conf log spool; do
        [ -d "$target_appdir/$folder" ] || fail "$label: no $folder/"
        called "^chown -R lumari:lumari $target_appdir/$folder\$" || fail "$label: $folder/ not given to lumari"
    done
    if systemd_runs && [ "$with_systemctl" = yes ]; then
        called '^systemctl restart lumari.service$' || fail "$label: the service was not (re)started"
    elif called '^systemctl (restart|start)'; then
        fail "$label: started the service although systemd does not run here"
    fi
}

section "postinst configure"
while IFS='|' read -r label with_adduser with_systemctl known_user systemctl_rc previous; do
    rm -rf "$work/target"
    make_stand_ins "$with_adduser" "$with_systemctl"
    [ "$known_user" = yes ] && echo lumari >>"$fake/state/passwd"
    echo "$systemctl_rc" >"$fake/state/systemctl_rc"
    if ! run_script postinst configure "$previous"; then
        fail "$label: postinst failed: $(cat "$fake/stderr")"
        continue
    fi
    check_installed_service "$label" "$with_systemctl"
    if [ "$known_user" = yes ]; then
        ! called '--system' || fail "$label: created the user lumari again"
    elif ! called '^(adduser|useradd) .*--system'; then
        fail "$label: lumari was not created as a system user"
    fi
    if [ "$with_systemctl" = yes ]; then
        called '^systemctl enable( --quiet)? lumari.service$' || fail "$label: the service was not enabled"
    fi
    if [ "$systemctl_rc" != 0 ] && ! grep -q 'lumari.service' "$fake/stderr"; then
        fail "$label: a refused systemctl left no word on standard error"
    fi
    # Run again, as an upgrade does: nothing new is created.
    : >"$fake/state/calls"
    run_script postinst configure "$version" || fail "$label: postinst failed when run again"
    ! called '--system' || fail "$label: the second run created the user again"
done <<'EOF'
first install with adduser|yes|yes|no|0|
upgrade over an existing user who is not in dialout|yes|yes|yes|0|1.2.0.0
first install with useradd only|no|yes|no|0|
enabling refused (a masked unit)|yes|yes|no|1|
chroot without systemctl|yes|no|no|0|
EOF

section "prerm"
make_stand_ins yes yes
run_script prerm upgrade 1.2.2.0 || fail "prerm upgrade failed: $(cat "$fake/stderr")"
! called '^systemctl (stop|disable)' || fail "prerm upgrade stopped or disabled the service"
run_script prerm remove || fail "prerm remove failed: $(cat "$fake/stderr")"
called '^systemctl disable( --quiet)? lumari.service$' || fail "prerm remove did not disable the service"
if systemd_runs; then
    called '^systemctl stop lumari.service$' || fail "prerm remove did not stop the service"
fi
make_stand_ins yes no
run_script prerm remove || fail "prerm remove without systemctl failed: $(cat "$fake/stderr")"

section "postrm"
make_data() {
    rm -rf "$work/target"
    mkdir -p "$target_appdir"/conf "$target_appdir"/log "$target_appdir"/spool
    echo settings >"$target_appdir/conf/Lumari.conf"
    echo line >"$target_appdir/log/20261207_Lumari.log"
    : >"$target_appdir/spool/Lumari.lock"
}
make_stand_ins yes yes
make_data
echo event >"$target_appdir/spool/events.journal"
run_script postrm remove || fail "postrm remove failed: $(cat "$fake/stderr")"
[ -f "$target_appdir/conf/Lumari.conf" ] && [ -f "$target_appdir/spool/events.journal" ] ||
    fail "postrm remove deleted the configuration or the journal"
run_script postrm purge || fail "postrm purge failed: $(cat "$fake/stderr")"
[ ! -e "$target_appdir/conf" ] && [ ! -e "$target_appdir/log" ] || fail "postrm purge left conf/ or log/"
[ -f "$target_appdir/spool/events.journal" ] || fail "postrm purge deleted a journal that holds events"
grep -q spool "$fake/stderr" || fail "postrm purge kept the journal without saying so"
make_data
: >"$target_appdir/spool/events.journal"
run_script postrm purge || fail "postrm purge failed: $(cat "$fake/stderr")"
[ ! -e "$target_appdir" ] || fail "postrm purge left $appdir_in_package although its journal was empty"

# --- The unpacked programs, started from another directory: each finds its
# files beside its executable, not in the working directory.
section "unpacked programs: one alarm from lumari-device through Lumari to lumari-station"
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("0.0.0.0", 0)); print(s.getsockname()[1])'
}
day_log() { cat "$appdir"/log/*_Lumari.log 2>/dev/null; }
log_has() { day_log | grep -qF -- "$1"; }
station_has_pty() { grep -q '^pty ' "$work/station.txt" 2>/dev/null; }
running() { kill -0 "$1" 2>/dev/null; }
stopped() { ! running "$1"; }
listening_or_ended() { log_has "Server start listening" || stopped "$1"; }

check_programs() {
    "$appdir/lumari-station" --lines 1 --seconds "$delivery_seconds" >"$work/station.txt" 2>&1 &
    local station=$!
    background+=("$station")
    wait_for "$start_seconds" station_has_pty || { fail "lumari-station made no pseudo-terminal"; return; }
    local tty port
    tty=$(sed -n 's/^pty //p' "$work/station.txt" | head -n 1)
    port=$(free_port)
    mkdir -p "$appdir/conf"
    {
        printf '<?xml  version="1.0" encoding="cp-1251"?>\n'
        printf '<LUMARICONFIG version="1.0" description="LUMARI Specific Configuration">\n'
        printf '   <LUMARICOMMON version="1.0" versionDate="20150131">\n'
        printf '\t\t<LUMARIPORT value="%s"/>\n' "$port"
        printf '\t\t<LUMARICOMNAME value="%s"/>\n' "$tty"
        printf '\t\t<LUMARICOMBAUDRATE value="7"/>\n'
        printf '\t\t<LUMARICOMDATABITS value="1"/>\n'
        printf '\t\t<LUMARICOMPARITY value="0"/>\n'
        printf '\t\t<LUMARICOMSTOPBITS value="0"/>\n'
        printf '\t\t<LUMARICOMSERVER value="01"/>\n'
        printf '\t\t<LUMARICOMLINE value="1"/>\n'
        printf '\t\t<LUMARICOMKEEPALIVE value="0"/>\n'
        printf '\t\t<LUMARICOMUSETIME value="0"/>\n'
        printf '   </LUMARICOMMON>\n'
        printf '</LUMARICONFIG>'
    } >"$appdir/conf/Lumari.conf"

    (cd / && QT_QPA_PLATFORM=offscreen exec "$appdir/Lumari") >"$work/lumari.txt" 2>&1 &
    local lumari=$!
    background+=("$lumari")
    if ! wait_for "$start_seconds" listening_or_ended "$lumari" || ! log_has "Server start listening"; then
        fail "the unpacked Lumari did not start listening on port $port; its output and day log:"
        cat "$work/lumari.txt"
        day_log | tail -n 20
        return
    fi
    [ -f "$appdir/spool/Lumari.lock" ] || fail "Lumari keeps no lock in spool/ beside its executable"

    if ! "$appdir/lumari-device" --port "$port" --mac 0A1B2C3D4E5F6071 --timeout 10000 \
        --id 123456 --account 001234 --event 1130 --group 01 --zone 003 >"$work/device.txt" 2>&1; then
        fail "lumari-device got no valid ACK:"
        cat "$work/device.txt"
    fi
    wait_for "$delivery_seconds" stopped "$station"
    wait "$station"
    local station_rc=$?
    if [ "$station_rc" -ne 0 ] ||
        ! grep -qF "account 1234 qualifier E event 130 group 01 zone 003" "$work/station.txt"; then
        fail "the station did not receive the alarm (exit code $station_rc):"
        cat "$work/station.txt"
    fi

    kill -TERM "$lumari"
    wait_for "$start_seconds" stopped "$lumari"
    wait "$lumari"
    local lumari_rc=$?
    [ "$lumari_rc" -eq 0 ] || fail "Lumari ended with exit code $lumari_rc on SIGTERM"
    log_has "[Lumari] Stopped by signal 15." || fail "no stop line in the day log"
}
check_programs

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "All package checks passed"
