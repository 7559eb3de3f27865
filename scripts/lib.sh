# Shared by scripts/run and scripts/test.
# shellcheck shell=bash

VELMORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the packages of scripts/packages.txt (plus any given) that are missing.
install_packages() {
    local wanted missing=() pkg
    wanted=$(grep -v -E '^\s*(#|$)' "$VELMORA_ROOT/scripts/packages.txt")
    for pkg in $wanted "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    # Debian ships npm apart from nodejs; a nodejs from elsewhere brings its own npm.
    if ! command -v npm >/dev/null 2>&1; then
        missing+=(npm)
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# Holds /tmp/velmora-serial.lock until the script ends: tests that bind the fixed ports, create
# network namespaces or start compositors or Chromium take turns through it. A caller that holds
# it already (`flock /tmp/velmora-serial.lock scripts/test`) hands its descriptor down; locking
# that one again succeeds at once, where a second descriptor would wait for ourselves forever.
hold_serial_lock() {
    local lock=/tmp/velmora-serial.lock fd
    for fd in /proc/$$/fd/*; do
        if [ "$(readlink "$fd" 2>/dev/null)" = "$lock" ]; then
            flock "${fd##*/}"
            return
        fi
    done
    exec 9>>"$lock"
    flock 9
}

# Configures and builds into build/ (warnings are errors there).
build_velmora() {
    cmake -S "$VELMORA_ROOT" -B "$VELMORA_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON >/dev/null || return 1
    cmake --build "$VELMORA_ROOT/build" -j"$(nproc)"
}

# Without a desktop session: an Xvfb display with a tray host, stopped when the script ends.
start_virtual_display() {
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    local fdfile
    fdfile=$(mktemp)
    # Own sessions: a Ctrl+C meant for Velmora must not take its display away first.
    # -noreset: a server that starts over when its last client leaves drops whoever came meanwhile.
    setsid Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$fdfile" >/dev/null 2>&1 &
    VELMORA_XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    DISPLAY=":$(head -n1 "$fdfile")"
    rm -f "$fdfile"
    export DISPLAY
    setsid trayer --edge top --align right --widthtype request --height 24 --transparent false >/dev/null 2>&1 &
    VELMORA_TRAYER_PID=$!
    # The tray is there once trayer owns the system-tray selection.
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1 || true
        if xwininfo -root -tree 2>/dev/null | grep -qi 'panel'; then break; fi
        sleep 0.1
    done
    trap stop_virtual_display EXIT
    echo "Started a virtual display $DISPLAY with a tray host"
}

stop_virtual_display() {
    [ -n "${VELMORA_TRAYER_PID:-}" ] && kill "$VELMORA_TRAYER_PID" 2>/dev/null
    [ -n "${VELMORA_XVFB_PID:-}" ] && kill "$VELMORA_XVFB_PID" 2>/dev/null
    return 0
}

# Runs the test functions $2... of the test executable $1 from build/tests, in the environment
# ctest gives it (see tests/CMakeLists.txt): for a second pass of a few cases on another desktop.
run_test_functions() {
    env QT_LOGGING_RULES='*.debug=true;qt.*.debug=false' NO_AT_BRIDGE=1 \
        DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/velmora-tests-have-no-session-bus \
        "$VELMORA_ROOT/build/tests/$1" "${@:2}"
}

# A headless sway for the Wayland tests and benchmarks: WAYLAND_DISPLAY is set to its socket and
# VELMORA_SWAY_X_DISPLAY to its XWayland display (empty without XWayland), and it stops when the
# script ends. sway refuses to run as root, so under root it runs as a system user created for it
# (velmora-wayland) with a runtime folder of that user's own.
start_headless_sway() {
    local user=velmora-wayland
    local -a run_as=()
    VELMORA_SWAY_RUNTIME=$(mktemp -d /tmp/velmora-wayland.XXXXXX)
    chmod 700 "$VELMORA_SWAY_RUNTIME"
    if [ "$(id -u)" -eq 0 ]; then
        id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
        chown "$user:" "$VELMORA_SWAY_RUNTIME"
        run_as=(setpriv --reuid="$user" --regid="$user" --init-groups)
    fi
    # No bar, no bindings: every key reaches the focused client. XWayland lets in only sway's
    # user, so ours is let in too (which starts it) before its display is told.
    cat >"$VELMORA_SWAY_RUNTIME/config" <<SWAY
output HEADLESS-1 mode 1280x720 position 0 0
default_border none
focus_follows_mouse no
xwayland enable
exec xhost +si:localuser:$(id -un) >/dev/null && echo "\$DISPLAY" >"\$XDG_RUNTIME_DIR/x-display"
SWAY
    chmod 644 "$VELMORA_SWAY_RUNTIME/config"
    setsid "${run_as[@]}" env -i PATH="$PATH" HOME="$VELMORA_SWAY_RUNTIME" XDG_RUNTIME_DIR="$VELMORA_SWAY_RUNTIME" \
        WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        sway -c "$VELMORA_SWAY_RUNTIME/config" >"$VELMORA_SWAY_RUNTIME/sway.log" 2>&1 &
    VELMORA_SWAY_PID=$!
    local socket=""
    for _ in $(seq 100); do
        socket=$(find "$VELMORA_SWAY_RUNTIME" -maxdepth 1 -type s -name 'wayland-*' | head -n1)
        [ -n "$socket" ] && break
        sleep 0.1
    done
    if [ -z "$socket" ]; then
        echo "sway did not start:" >&2
        tail -n 20 "$VELMORA_SWAY_RUNTIME/sway.log" >&2
        stop_headless_sway
        return 1
    fi
    # An absolute path: our clients need no runtime folder of their own.
    export WAYLAND_DISPLAY="$socket"
    VELMORA_SWAY_X_DISPLAY=""
    if command -v xhost >/dev/null; then
        for _ in $(seq 100); do
            [ -s "$VELMORA_SWAY_RUNTIME/x-display" ] && break
            sleep 0.1
        done
        [ -s "$VELMORA_SWAY_RUNTIME/x-display" ] && VELMORA_SWAY_X_DISPLAY=$(cat "$VELMORA_SWAY_RUNTIME/x-display")
    fi
    export VELMORA_SWAY_X_DISPLAY
    echo "Started a headless sway at $WAYLAND_DISPLAY (XWayland at ${VELMORA_SWAY_X_DISPLAY:-none})"
}

# True while a process of group $1 is alive (a zombie is not).
group_alive() {
    ps -eo pgid=,stat= | awk -v group="$1" '$1 == group && $2 !~ /^Z/ { found = 1 } END { exit !found }'
}

# Ends the process group $1, and returns once none of it is alive (KILL after $2 seconds).
end_process_group() {
    local group=$1 seconds=${2:-10}
    kill -TERM -- "-$group" 2>/dev/null || return 0
    for _ in $(seq $((seconds * 10))); do
        group_alive "$group" || return 0
        sleep 0.1
    done
    echo "process group $group did not end in $seconds s; killing it" >&2
    kill -KILL -- "-$group" 2>/dev/null || true
    for _ in $(seq 50); do
        group_alive "$group" || return 0
        sleep 0.1
    done
}

stop_headless_sway() {
    # The whole group, and wait for it: sway's XWayland is not its child and outlives it by
    # seconds on a busy machine, still listening on its display's abstract socket after sway
    # removed the display's lock. An X server started then takes that display half-listening,
    # and its clients reach the dying XWayland instead.
    if [ -n "${VELMORA_SWAY_PID:-}" ]; then
        end_process_group "$VELMORA_SWAY_PID" 10
        wait "$VELMORA_SWAY_PID" 2>/dev/null || true
    fi
    [ -n "${VELMORA_SWAY_RUNTIME:-}" ] && rm -rf "$VELMORA_SWAY_RUNTIME"
    VELMORA_SWAY_PID=""
    VELMORA_SWAY_RUNTIME=""
    return 0
}

# Waits up to $2 seconds for the socket $3 of the compositor $1 and for the file $4, where its
# session writes the address of its bus. Returns non-zero, with the last lines of the log $5,
# when the socket did not come.
wait_for_compositor() {
    local name=$1 seconds=$2 socket=$3 address=$4 log=$5
    for _ in $(seq $((seconds * 10))); do
        [ -S "$socket" ] && [ -s "$address" ] && return 0
        sleep 0.1
    done
    [ -S "$socket" ] && return 0
    echo "$name did not start:" >&2
    tail -n 20 "$log" >&2
    return 1
}

# Writes to $1 the configuration of a compositor's private session bus listening in folder $2,
# activating services only from folder $3 when given: never the machine's own service folders.
# The tests connect as the user running them (root on CI), hence any user.
write_compositor_bus_config() {
    local services=""
    [ -n "${3:-}" ] && services="  <servicedir>$3</servicedir>"
    cat >"$1" <<BUS
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$2</listen>
  <auth>EXTERNAL</auth>
$services
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
BUS
}

# A headless GNOME Mutter for the GNOME input tests: WAYLAND_DISPLAY is set to its socket and
# VELMORA_MUTTER_BUS to the address of its session bus, a bus of its own whose configuration
# names no service folder of the machine. PipeWire runs beside it, as on a GNOME desktop, so
# that Mutter can record the stream that absolute moves go through. Mutter refuses to run as root, so under root it runs
# as the same system user as sway. Arguments: the sizes of its virtual monitors, left to right
# (without, one of VELMORA_SCREEN_SIZE (WxH), else 1280x720). With VELMORA_TEST_LAYOUT ("ru,us")
# the keyboard has those layouts. Returns non-zero, saying why, when Mutter does not start.
start_headless_mutter() {
    local user=velmora-wayland
    local -a run_as=()
    local monitors="" size
    for size in "${@:-${VELMORA_SCREEN_SIZE:-1280x720}}"; do
        monitors="$monitors --virtual-monitor $size"
    done
    if ! command -v mutter >/dev/null 2>&1; then
        echo "mutter is not installed (Debian package mutter, see scripts/packages.txt)" >&2
        return 1
    fi
    VELMORA_MUTTER_RUNTIME=$(mktemp -d /tmp/velmora-mutter.XXXXXX)
    chmod 700 "$VELMORA_MUTTER_RUNTIME"
    if [ "$(id -u)" -eq 0 ]; then
        id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
        chown "$user:" "$VELMORA_MUTTER_RUNTIME"
        run_as=(setpriv --reuid="$user" --regid="$user" --init-groups)
    fi
    write_compositor_bus_config "$VELMORA_MUTTER_RUNTIME/bus.conf" "$VELMORA_MUTTER_RUNTIME"
    chmod 644 "$VELMORA_MUTTER_RUNTIME/bus.conf"
    # A copy Mutter's user can read wherever the sources are.
    install -m 644 "$VELMORA_ROOT/tests/wayland/keyboard-layout-service.py" "$VELMORA_MUTTER_RUNTIME/layout.py"
    setsid "${run_as[@]}" env -i PATH="$PATH" HOME="$VELMORA_MUTTER_RUNTIME" XDG_RUNTIME_DIR="$VELMORA_MUTTER_RUNTIME" \
        VELMORA_MUTTER_MONITORS="$monitors" VELMORA_TEST_LAYOUT="${VELMORA_TEST_LAYOUT:-}" \
        dbus-run-session --config-file="$VELMORA_MUTTER_RUNTIME/bus.conf" -- \
        sh -c 'echo "$DBUS_SESSION_BUS_ADDRESS" >"$XDG_RUNTIME_DIR/bus-address"
               # Mutter without GNOME Shell takes its layout from the system locale service: a
               # stand-in on this private bus, not the system bus of the machine.
               ly=""
               if [ -n "$VELMORA_TEST_LAYOUT" ]; then
                   export DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS"
                   /usr/bin/python3 "$XDG_RUNTIME_DIR/layout.py" >"$XDG_RUNTIME_DIR/layout.log" 2>&1 & ly=$!
                   for _ in $(seq 100); do grep -q owned "$XDG_RUNTIME_DIR/layout.log" 2>/dev/null && break; sleep 0.1; done
               fi
               pw=""
               if command -v pipewire >/dev/null; then pipewire >"$XDG_RUNTIME_DIR/pipewire.log" 2>&1 & pw=$!; fi
               mutter --headless --wayland --no-x11 $VELMORA_MUTTER_MONITORS --wayland-display velmora-mutter &
               m=$!
               trap "kill $m $pw $ly 2>/dev/null" TERM
               wait $m; kill $m $pw $ly 2>/dev/null; wait' \
        >"$VELMORA_MUTTER_RUNTIME/mutter.log" 2>&1 &
    VELMORA_MUTTER_PID=$!
    if ! wait_for_compositor mutter 15 "$VELMORA_MUTTER_RUNTIME/velmora-mutter" \
        "$VELMORA_MUTTER_RUNTIME/bus-address" "$VELMORA_MUTTER_RUNTIME/mutter.log"; then
        stop_headless_mutter
        return 1
    fi
    export WAYLAND_DISPLAY="$VELMORA_MUTTER_RUNTIME/velmora-mutter"
    VELMORA_MUTTER_BUS=$(cat "$VELMORA_MUTTER_RUNTIME/bus-address")
    export VELMORA_MUTTER_BUS
    # Mutter records screen-cast streams (our absolute moves) only where PipeWire runs.
    VELMORA_MUTTER_PIPEWIRE=0
    [ -S "$VELMORA_MUTTER_RUNTIME/pipewire-0" ] && VELMORA_MUTTER_PIPEWIRE=1
    export VELMORA_MUTTER_PIPEWIRE
    echo "Started a headless Mutter at $WAYLAND_DISPLAY"
}

# Waits up to 10 s for `name` to be owned on the bus at `address`.
wait_for_bus_name() {
    for _ in $(seq 100); do
        dbus-send --bus="$1" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner "string:$2" 2>/dev/null | grep -q 'boolean true' && return 0
        sleep 0.1
    done
    return 1
}

# GNOME's RemoteDesktop portal on the headless Mutter's bus (after start_headless_mutter): the
# accessibility bus and xdg-desktop-portal-gnome as Mutter's user, xdg-desktop-portal as the user
# who runs the tests (it reads the caller's /proc entry, as on a desktop where they share one
# user), and a helper that accepts every "Remote desktop" dialog through the accessibility bus,
# or answers as the file VELMORA_GNOME_PORTAL_ANSWER names says (see the helper).
# Returns non-zero, saying why, when a part is missing or does not start.
start_gnome_portal() {
    local -a run_as=()
    local helper="$VELMORA_ROOT/tests/wayland/accept-remote-desktop.py"
    if [ ! -x /usr/libexec/xdg-desktop-portal-gnome ] || [ ! -x /usr/libexec/xdg-desktop-portal ] ||
        [ ! -x /usr/libexec/at-spi-bus-launcher ] || ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
        echo "the GNOME portal or the accessibility bus is not installed (Debian packages xdg-desktop-portal-gnome, at-spi2-core, python3-pyatspi, see scripts/packages.txt)" >&2
        return 1
    fi
    local runtime="$VELMORA_MUTTER_RUNTIME"
    # Written by the tests (root on CI), read by the helper (Mutter's user).
    VELMORA_GNOME_PORTAL_ANSWER="$runtime/answer"
    echo accept >"$VELMORA_GNOME_PORTAL_ANSWER"
    chmod 644 "$VELMORA_GNOME_PORTAL_ANSWER"
    export VELMORA_GNOME_PORTAL_ANSWER
    [ "$(id -u)" -eq 0 ] && run_as=(setpriv --reuid=velmora-wayland --regid=velmora-wayland --init-groups)
    local -a session=(env -i PATH="$PATH" HOME="$runtime" XDG_RUNTIME_DIR="$runtime"
        DBUS_SESSION_BUS_ADDRESS="$VELMORA_MUTTER_BUS" WAYLAND_DISPLAY=velmora-mutter XDG_CURRENT_DESKTOP=GNOME)
    setsid "${run_as[@]}" "${session[@]}" /usr/libexec/at-spi-bus-launcher >"$runtime/atspi.log" 2>&1 &
    VELMORA_GNOME_PORTAL_PIDS=$!
    setsid "${run_as[@]}" "${session[@]}" GDK_BACKEND=wayland /usr/libexec/xdg-desktop-portal-gnome \
        >"$runtime/portal-gnome.log" 2>&1 &
    VELMORA_GNOME_PORTAL_PIDS="$VELMORA_GNOME_PORTAL_PIDS $!"
    # The portal finds its GNOME part only if that is on the bus already (nothing is activated).
    wait_for_bus_name "$VELMORA_MUTTER_BUS" org.freedesktop.impl.portal.desktop.gnome || true
    VELMORA_GNOME_PORTAL_HOME=$(mktemp -d /tmp/velmora-portal.XXXXXX)
    setsid env -i PATH="$PATH" HOME="$VELMORA_GNOME_PORTAL_HOME" XDG_RUNTIME_DIR="$VELMORA_GNOME_PORTAL_HOME" \
        XDG_CURRENT_DESKTOP=GNOME DBUS_SESSION_BUS_ADDRESS="$VELMORA_MUTTER_BUS" \
        /usr/libexec/xdg-desktop-portal >"$runtime/portal.log" 2>&1 &
    VELMORA_GNOME_PORTAL_PIDS="$VELMORA_GNOME_PORTAL_PIDS $!"
    # A copy Mutter's user can read wherever the sources are.
    install -m 644 "$helper" "$runtime/accept-remote-desktop.py"
    setsid "${run_as[@]}" "${session[@]}" VELMORA_TEST_PORTAL_ANSWER="$VELMORA_GNOME_PORTAL_ANSWER" \
        /usr/bin/python3 "$runtime/accept-remote-desktop.py" >"$runtime/accept.log" 2>&1 &
    VELMORA_GNOME_PORTAL_PIDS="$VELMORA_GNOME_PORTAL_PIDS $!"
    wait_for_bus_name "$VELMORA_MUTTER_BUS" org.freedesktop.portal.Desktop && return 0
    echo "xdg-desktop-portal did not start on the Mutter bus:" >&2
    tail -n 20 "$runtime/portal.log" >&2
    stop_gnome_portal
    return 1
}

stop_gnome_portal() {
    local pid
    for pid in ${VELMORA_GNOME_PORTAL_PIDS:-}; do
        kill "$pid" 2>/dev/null || true
    done
    [ -n "${VELMORA_GNOME_PORTAL_HOME:-}" ] && rm -rf "$VELMORA_GNOME_PORTAL_HOME"
    VELMORA_GNOME_PORTAL_PIDS=""
    VELMORA_GNOME_PORTAL_HOME=""
    return 0
}

# Ends a compositor started under dbus-run-session (pid $1: its children first) and removes its
# runtime folder $2, which it may still be writing to while it ends.
end_compositor() {
    if [ -n "$1" ]; then
        pkill -TERM -P "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
    if [ -n "$2" ]; then
        for _ in $(seq 20); do
            rm -rf "$2" 2>/dev/null && break
            sleep 0.1
        done
    fi
    return 0
}

stop_headless_mutter() {
    # dbus-run-session ends its bus when Mutter, its child, ends.
    end_compositor "${VELMORA_MUTTER_PID:-}" "${VELMORA_MUTTER_RUNTIME:-}"
    VELMORA_MUTTER_PID=""
    VELMORA_MUTTER_RUNTIME=""
    return 0
}

# A headless KDE KWin for the KDE input tests, with the RemoteDesktop portal (xdg-desktop-portal
# and its KDE part) on a session bus of its own: WAYLAND_DISPLAY is set to KWin's socket and
# VELMORA_KWIN_BUS to the bus address. The bus activates only the portal services, from a folder
# of its own. KWin runs from a copy of its binary: Debian's carries a file capability
# (cap_sys_resource) that containers and some VMs refuse to execute ("Operation not permitted"),
# and the copy has none. Under root everything runs as the system user of sway and Mutter. The
# screen is 1280x720, or VELMORA_SCREEN_SIZE (WxH); with VELMORA_TEST_LAYOUT ("ru,us") the keyboard
# has those layouts.
# Returns non-zero, saying why, when KWin or the portal does not start.
start_headless_kwin() {
    local user=velmora-wayland
    local -a run_as=()
    local kwin portal kde_portal name size=${VELMORA_SCREEN_SIZE:-1280x720}
    kwin=$(command -v kwin_wayland || true)
    portal=/usr/libexec/xdg-desktop-portal
    kde_portal=/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde
    if [ -z "$kwin" ] || [ ! -x "$portal" ] || [ ! -x "$kde_portal" ]; then
        echo "KWin or the KDE portal is not installed (Debian packages kwin-wayland, xdg-desktop-portal-kde, see scripts/packages.txt)" >&2
        return 1
    fi
    VELMORA_KWIN_RUNTIME=$(mktemp -d /tmp/velmora-kwin.XXXXXX)
    chmod 755 "$VELMORA_KWIN_RUNTIME"
    mkdir -p "$VELMORA_KWIN_RUNTIME/run" "$VELMORA_KWIN_RUNTIME/home" "$VELMORA_KWIN_RUNTIME/services"
    cp "$kwin" "$VELMORA_KWIN_RUNTIME/kwin_wayland"
    for name in org.freedesktop.impl.portal.desktop.kde org.freedesktop.impl.portal.PermissionStore; do
        cp "/usr/share/dbus-1/services/$name.service" "$VELMORA_KWIN_RUNTIME/services/"
    done
    # The portal learns who calls it from /proc/PID/root, which only the caller's own user (or
    # root) may open: it runs as the user who runs the tests, as on a desktop, where the
    # program and the portal share one user.
    write_compositor_bus_config "$VELMORA_KWIN_RUNTIME/bus.conf" "$VELMORA_KWIN_RUNTIME/run" \
        "$VELMORA_KWIN_RUNTIME/services"
    chmod 700 "$VELMORA_KWIN_RUNTIME/run"
    # KWin's screenshot interface (org.kde.KWin.ScreenShot2), for tests/wayland/screenshot.py
    # with VELMORA_KWIN_SCREENSHOTS=1, needs OpenGL compositing (software rendering here). It
    # answers only executables that a .desktop entry authorises, looked up in KWin's service
    # cache, which now and then lacked the entry: this KWin of ours skips that check instead.
    local -a compose=(KWIN_COMPOSE=Q)
    if [ "${VELMORA_KWIN_SCREENSHOTS:-}" = 1 ]; then
        compose=(KWIN_COMPOSE=O2 LIBGL_ALWAYS_SOFTWARE=1 KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1)
    fi
    # The keyboard's layouts as KDE's settings keep them, in the session's own home.
    if [ -n "${VELMORA_TEST_LAYOUT:-}" ]; then
        mkdir -p "$VELMORA_KWIN_RUNTIME/home/.config"
        printf '[Layout]\nLayoutList=%s\nUse=true\n' "$VELMORA_TEST_LAYOUT" >"$VELMORA_KWIN_RUNTIME/home/.config/kxkbrc"
    fi
    if [ "$(id -u)" -eq 0 ]; then
        id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
        chown -R "$user:" "$VELMORA_KWIN_RUNTIME/run" "$VELMORA_KWIN_RUNTIME/home"
        run_as=(setpriv --reuid="$user" --regid="$user" --init-groups)
    fi
    setsid "${run_as[@]}" env -i PATH="$PATH" HOME="$VELMORA_KWIN_RUNTIME/home" XDG_RUNTIME_DIR="$VELMORA_KWIN_RUNTIME/run" \
        XDG_CURRENT_DESKTOP=KDE "${compose[@]}" QT_QPA_PLATFORM=wayland \
        dbus-run-session --config-file="$VELMORA_KWIN_RUNTIME/bus.conf" -- \
        sh -c '"$0" --virtual --width "$1" --height "$2" --no-lockscreen --no-global-shortcuts --socket velmora-kwin &
               k=$!
               # The portal, started by the bus, draws nothing but must reach KWin.
               while [ ! -S "$XDG_RUNTIME_DIR/velmora-kwin" ] && kill -0 $k 2>/dev/null; do sleep 0.1; done
               dbus-update-activation-environment WAYLAND_DISPLAY=velmora-kwin
               echo "$DBUS_SESSION_BUS_ADDRESS" >"$XDG_RUNTIME_DIR/bus-address"
               trap "kill $k 2>/dev/null" TERM
               wait $k' "$VELMORA_KWIN_RUNTIME/kwin_wayland" "${size%x*}" "${size#*x}" \
        >"$VELMORA_KWIN_RUNTIME/kwin.log" 2>&1 &
    VELMORA_KWIN_PID=$!
    if ! wait_for_compositor kwin_wayland 20 "$VELMORA_KWIN_RUNTIME/run/velmora-kwin" \
        "$VELMORA_KWIN_RUNTIME/run/bus-address" "$VELMORA_KWIN_RUNTIME/kwin.log"; then
        stop_headless_kwin
        return 1
    fi
    export WAYLAND_DISPLAY="$VELMORA_KWIN_RUNTIME/run/velmora-kwin"
    VELMORA_KWIN_BUS=$(cat "$VELMORA_KWIN_RUNTIME/run/bus-address")
    export VELMORA_KWIN_BUS
    mkdir -p "$VELMORA_KWIN_RUNTIME/portal"
    chmod 700 "$VELMORA_KWIN_RUNTIME/portal"
    setsid env -i PATH="$PATH" HOME="$VELMORA_KWIN_RUNTIME/portal" XDG_RUNTIME_DIR="$VELMORA_KWIN_RUNTIME/portal" \
        XDG_CURRENT_DESKTOP=KDE DBUS_SESSION_BUS_ADDRESS="$VELMORA_KWIN_BUS" \
        "$portal" >"$VELMORA_KWIN_RUNTIME/portal.log" 2>&1 &
    VELMORA_KWIN_PORTAL_PID=$!
    wait_for_bus_name "$VELMORA_KWIN_BUS" org.freedesktop.portal.Desktop || true
    if ! kill -0 "$VELMORA_KWIN_PORTAL_PID" 2>/dev/null; then
        echo "xdg-desktop-portal did not start:" >&2
        tail -n 20 "$VELMORA_KWIN_RUNTIME/portal.log" >&2
        stop_headless_kwin
        return 1
    fi
    echo "Started a headless KWin at $WAYLAND_DISPLAY"
}

stop_headless_kwin() {
    if [ -n "${VELMORA_KWIN_PORTAL_PID:-}" ]; then
        kill "$VELMORA_KWIN_PORTAL_PID" 2>/dev/null || true
        wait "$VELMORA_KWIN_PORTAL_PID" 2>/dev/null || true
    fi
    VELMORA_KWIN_PORTAL_PID=""
    end_compositor "${VELMORA_KWIN_PID:-}" "${VELMORA_KWIN_RUNTIME:-}"
    VELMORA_KWIN_PID=""
    VELMORA_KWIN_RUNTIME=""
    return 0
}
