# guest-job.sh -- runs inside the guest of scripts/guest: every scenario that the
# host prepared in the share, each as one run of the 32-bit UI driver under wine.
#
# The share ($SFX_SHARE) holds uidriver.exe and "scenarios", one folder name a
# line; each folder holds script.txt. Written back into each folder:
# driver.out (the driver's JSON lines), driver.err, and driver.rc (its exit code,
# 124 when it had to be stopped). The guest's wine prefix is a 32-bit one, so
# everything here runs as 32-bit code.
set -u
cd "$SFX_SHARE"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

Xvfb :1 -screen 0 1024x768x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
for _ in $(seq 200); do
  [ -e /tmp/.X11-unix/X1 ] && break
  sleep 0.1
done
[ -e /tmp/.X11-unix/X1 ] || { echo "no Xvfb: $(cat /tmp/xvfb.log)"; exit 1; }
export DISPLAY=:1
# One server across scenarios (it outlives the last program by 10 s), with
# wine's services up before the first one, so that no scenario pays for them.
wineserver -p10
wine wineboot >/dev/null 2>&1 </dev/null

while read -r name; do
  [ -n "$name" ] || continue
  started=$SECONDS
  (
    cd "$SFX_SHARE/$name" &&
    timeout -k 10 "${SFX_SCENARIO_TIMEOUT:-600}" wine "$SFX_SHARE/uidriver.exe" script.txt \
      </dev/null >driver.out 2>driver.err
    echo $? >driver.rc
  )
  echo "$name: driver exit $(cat "$SFX_SHARE/$name/driver.rc" 2>/dev/null) after $((SECONDS - started)) s"
done <scenarios

# Programs that a stub started (and that outlive the driver) finish before the
# guest goes down and the host looks at what they wrote.
timeout 120 wineserver -w || echo "wine programs still running at the end"
