#!/usr/bin/env bash
# Checks the LV2 bundles with the LV2 tools hosts and users have:
#   lv2_validate  the bundles against the LV2 schemas, no errors, no warnings
#   lv2ls         lists both plug-ins
#   lv2apply, ffmpeg -af lv2
#                 an impulse comes out delayed by exactly the latency port's
#                 value (read through lilv by lv2-latency-probe), output finite;
#                 a ceiling of -6 dB set on the command line holds the peak at
#                 or below -6 dBFS
#   jalv          a real host on a JACK server with the dummy driver (no sound
#                 card): moving a slope while the multiband plug-in runs moves
#                 its latency port (the change goes through the host's worker);
#                 a full-scale click (jack_metro) under a master ceiling of
#                 -12 dB moves the m_gr meter port to 12 dB and out_tp
#                 to -12 dBTP
# Usage: scripts/check-lv2.sh LV2_DIR PROBE   (LV2_DIR holds the two bundles;
# PROBE is the built lv2-latency-probe). With LV2_DIR "installed" the bundles
# are found where LV2 hosts look by default and only the renders are checked.
set -euo pipefail
lv2_dir=$1
probe=$2
here=$(cd "$(dirname "$0")" && pwd)
wavtool="python3 $here/wavtool.py"
ns=http://ylk.example/plugins/orvex/
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "check-lv2: $*" >&2; exit 1; }

if [ "$lv2_dir" != installed ]; then
    lv2_dir=$(cd "$lv2_dir" && pwd)
    export LV2_PATH=$lv2_dir
    report=$(lv2_validate "$lv2_dir"/*.lv2/*.ttl 2>&1) || fail "lv2_validate failed: $report"
    echo "$report" | grep -q "Found 0 errors" || fail "lv2_validate: $report"
    if echo "$report" | grep -qi "warn"; then fail "lv2_validate warnings: $report"; fi
    listed=$(lv2ls)
    for p in MultibandOrvexMaximizer Orvex_Maximizer; do
        echo "$listed" | grep -qx "$ns$p" || fail "lv2ls does not list $ns$p: $listed"
    done
    echo "check-lv2: bundles validate, lv2ls lists both plug-ins"
fi

# stats FILE -> "frames peak_dbfs peak_frame finite"
expect_delay() {
    local file=$1 want=$2 label=$3
    read -r _ _ at finite < <($wavtool stats "$file")
    [ "$finite" = finite ] || fail "$label: output not finite"
    [ "$at" -eq "$want" ] || fail "$label: impulse at frame $at, latency port says $want"
}

# render_lv2apply URI IN OUT [SYMBOL VALUE]...
render_lv2apply() {
    local uri=$1 in=$2 out=$3; shift 3
    local controls=()
    while [ $# -gt 0 ]; do controls+=(-c "$1" "$2"); shift 2; done
    lv2apply -i "$in" -o "$out" "${controls[@]}" "$uri" >/dev/null
}

# render_ffmpeg URI IN OUT [SYMBOL VALUE]...
render_ffmpeg() {
    local uri=$1 in=$2 out=$3; shift 3
    # The URI's colon is escaped twice: once for the filter graph, once for
    # the filter's own option list.
    local filter="lv2=p=${uri//:/\\\\\\:}" sep=":c="
    while [ $# -gt 0 ]; do filter+="$sep$1=$2"; sep="|"; shift 2; done
    ffmpeg -nostdin -loglevel error -y -i "$in" -af "$filter" -c:a pcm_f32le "$out"
}

# plug-in, rate, settings: the defaults and settings that move the latency.
cases=(
    "MultibandOrvexMaximizer 44100"
    "MultibandOrvexMaximizer 96000 freq1 60 slope1 96"
    "Orvex_Maximizer 44100"
    "Orvex_Maximizer 48000 truepeak 1"
)
for c in "${cases[@]}"; do
    read -r plugin rate settings <<<"$c"
    read -ra set <<<"${settings:-}"
    uri=$ns$plugin
    latency=$("$probe" "$uri" "$rate" "${set[@]}")
    $wavtool impulse "$work/impulse.wav" "$rate" $((latency + 2000)) 100
    for tool in lv2apply ffmpeg; do
        "render_$tool" "$uri" "$work/impulse.wav" "$work/out.wav" "${set[@]}"
        expect_delay "$work/out.wav" $((100 + latency)) "$tool $plugin at $rate Hz ${settings:-}"
    done
    echo "check-lv2: $plugin at $rate Hz ${settings:+($settings) }latency port $latency = impulse delay (lv2apply, ffmpeg)"
done

$wavtool noise "$work/noise.wav" 44100 44100 0 1
for c in "MultibandOrvexMaximizer m_thresh -12 m_ceiling -6" "Orvex_Maximizer thresh -12 ceiling -6"; do
    read -r plugin settings <<<"$c"
    read -ra set <<<"$settings"
    for tool in lv2apply ffmpeg; do
        "render_$tool" "$ns$plugin" "$work/noise.wav" "$work/out.wav" "${set[@]}"
        read -r _ peak _ finite < <($wavtool stats "$work/out.wav")
        [ "$finite" = finite ] || fail "$tool $plugin: output not finite"
        python3 -c "import sys; sys.exit(0 if float('$peak') <= -6.0 + 1e-3 else 1)" ||
            fail "$tool $plugin with a -6 dB ceiling peaks at $peak dBFS"
        echo "check-lv2: $tool $plugin ($settings) peaks at $peak dBFS"
    done
done

# jalv reads commands on standard input and prints "latency = N" for each
# "monitors"; its JACK server is private to this check.
if [ "$lv2_dir" != installed ]; then
    server=orvex-check-$$
    jackd -n "$server" -r -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
    jack=$!
    trap 'kill "$jack" 2>/dev/null; wait "$jack" 2>/dev/null; rm -rf "$work"' EXIT
    # The server is up once its system client's semaphore exists.
    for _ in $(seq 100); do
        compgen -G "/dev/shm/jack_sem.*_${server}_system" >/dev/null && break
        sleep 0.1
    done
    commands() {
        sleep 2
        echo monitors
        echo "set slope1 96"
        for _ in $(seq 40); do sleep 0.25; echo monitors; done
    }
    transcript=$(commands | JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1 timeout 60 \
        jalv "${ns}MultibandOrvexMaximizer" 2>&1) || true
    latencies=$(echo "$transcript" | sed -n 's/^[> ]*latency = \([0-9]*\).*/\1/p')
    first=$(echo "$latencies" | head -n 1)
    last=$(echo "$latencies" | tail -n 1)
    [ -n "$first" ] && [ -n "$last" ] ||
        fail "jalv printed no latency: $transcript $(cat "$work/jackd.log")"
    [ "$last" -gt "$first" ] || fail "jalv: latency stayed $first after slope1 96: $transcript"
    echo "check-lv2: jalv on a dummy JACK server: slope1 96 moves the latency port $first -> $last"

    # The meters: a full-scale metronome click (jack_metro) into the plug-in
    # with the master's ceiling at -12 dB: m_gr reads about 12 dB, the bands 0,
    # and the output's true peak (out_tp) about -12 dBTP.
    JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1 jack_metro -n metro -b 240 -f 1000 -A 1.0 -D 200 \
        >"$work/metro.log" 2>&1 &
    metro=$!
    trap 'kill "$metro" "$jack" 2>/dev/null; wait "$jack" 2>/dev/null; rm -rf "$work"' EXIT
    metered() {
        sleep 2
        echo "set m_ceiling -12"
        local ports
        ports=$(JACK_DEFAULT_SERVER=$server jack_lsp)
        for side in l r; do
            JACK_DEFAULT_SERVER=$server jack_connect "$(echo "$ports" | grep '^metro:' | head -n 1)" \
                "$(echo "$ports" | grep ":in_$side\$" | head -n 1)"
        done
        # Read more often than the clicks come: the peak hold falls 10 dB/s
        # between them, so the highest reading is the one just after a click.
        for _ in $(seq 30); do sleep 0.1; echo monitors; done
    }
    transcript=$(metered | JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1 timeout 60 \
        jalv "${ns}MultibandOrvexMaximizer" 2>&1) || true
    kill "$metro" 2>/dev/null || true
    master=$(echo "$transcript" | sed -n 's/^[> ]*m_gr = \([0-9.]*\).*/\1/p' | sort -g | tail -n 1)
    bands=$(echo "$transcript" | sed -n 's/^[> ]*b[1-5]_gr = \([-0-9.]*\).*/\1/p' | tail -n 5 | sort -u | tr '\n' ' ')
    [ -n "$master" ] || fail "jalv printed no m_gr: $transcript"
    awk -v m="$master" 'BEGIN { exit !(m > 11 && m < 12.5) }' ||
        fail "jalv: m_gr reads $master with a full-scale click under a -12 dB ceiling"
    [ "$bands" = "0.000000 " ] || fail "jalv: band meters read $bands, not 0"
    peak=$(echo "$transcript" | sed -n 's/^[> ]*out_tp = \([-0-9.]*\).*/\1/p' | sort -g | tail -n 1)
    [ -n "$peak" ] || fail "jalv printed no out_tp: $transcript"
    awk -v p="$peak" 'BEGIN { exit !(p > -13 && p < -11) }' ||
        fail "jalv: out_tp reads $peak dBTP with a full-scale click under a -12 dB ceiling"
    echo "check-lv2: jalv with a full-scale click: m_gr reads up to $master dB under a -12 dB ceiling, the bands 0," \
        "out_tp up to $peak dBTP"
fi
