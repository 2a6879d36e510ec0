#!/usr/bin/env bash
# iu.exe under Wine installs the signed sample onto tvsim through cmd.exe command lines shaped
# like the installer's, with redirection into log files; each log file can be deleted right
# after its command ends (the background server holds no handle on it), and so can iu.exe
# after the last kill-server. It runs from a folder whose name is outside the ANSI code page,
# as a Cyrillic user's Downloads folder is on an English Windows, and a failed step's log holds
# the tool's reason although only standard output is redirected.
# Usage: cmd_install_test.sh IU_EXE TVSIM SAMPLE_DIR CMAKE
set -euo pipefail
iu_exe=$1 tvsim=$2 sample=$3 cmake=$4
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# An English system: its ANSI code page (1252) has no Cyrillic letters.
export LANG=C.UTF-8 LC_ALL=C.UTF-8

top=$(mktemp -d)
work="$top/Мои загрузки"
mkdir "$work"
tv_pid=
cleanup() {
  [[ -f $work/iu.exe ]] && (cd "$work" && timeout 20 wine cmd.exe /c "iu.exe kill-server" >/dev/null 2>&1 || true)
  [[ -n $tv_pid ]] && kill "$tv_pid" 2>/dev/null || true
  rm -rf "$top"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cp "$iu_exe" "$work/iu.exe"
(cd "$sample/wgt" && "$cmake" -E tar cf "$work/Velmora.wgt" --format=zip .)
# Trust the sample's issuing CAs, checked at a time inside their validity.
python3 - "$sample/wgt" "$work" <<'PY'
import re, sys, textwrap
src, out = sys.argv[1], sys.argv[2]
for name, role in (("author-signature.xml", "author"), ("signature1.xml", "distributor")):
    certs = re.findall(r"<X509Certificate>(.*?)</X509Certificate>", open(f"{src}/{name}").read(), re.S)
    body = "".join(certs[1].split())
    open(f"{out}/{role}-ca.pem", "w").write(
        "-----BEGIN CERTIFICATE-----\n" + "\n".join(textwrap.wrap(body, 64)) + "\n-----END CERTIFICATE-----\n")
PY
"$tvsim" --listen 127.0.0.1:0 --state "$work/tv" --generation 2019 \
  --author-ca "$work/author-ca.pem" --distributor-ca "$work/distributor-ca.pem" \
  --verify-time 2018-06-01T00:00:00 >"$work/tvsim.out" 2>"$work/tvsim.err" &
tv_pid=$!
for _ in $(seq 100); do
  grep -q "listening on" "$work/tvsim.out" 2>/dev/null && break
  sleep 0.05
done
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/tvsim.out")
[[ -n $port ]] || fail "tvsim did not start: $(cat "$work/tvsim.err")"
IU_SERVER_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export IU_SERVER_PORT

id=N75lVtaOnD.TestApp
d=/home/owner/share/tmp/sdk_tools/tmp
cd "$work"
mkdir doLog
run() { timeout 60 wine cmd.exe /c "$1" >/dev/null 2>&1 || true; }
# Deletes a log through Windows, as the installer's next run would, right after the command.
check_deletable() {
  local log=$1
  timeout 20 wine cmd.exe /c "del doLog\\$log" >/dev/null 2>&1 || true
  [[ ! -e doLog/$log ]] || fail "doLog/$log is still held open after its command ended"
}
expect() { grep -qF -- "$2" "doLog/$1" || fail "doLog/$1 lacks '$2': $(cat "doLog/$1")"; }
expect_exact() { [[ $(cat "doLog/$1") == "$2" ]] || fail "doLog/$1 is not '$2': $(cat "doLog/$1")"; }

# The reason of a failure goes to stdout too when that is a file of its own, and only once when
# stderr goes to the same file.
closed=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
IU_TRACE=trace.txt run "iu.exe kill-server > doLog\\none.txt"
expect_exact none.txt "info: server not running"
# Told by the server's mark, without a connect to its closed port.
grep -q "no server runs on port $IU_SERVER_PORT" trace.txt || fail "kill-server tried the port: $(cat trace.txt)"
run "iu.exe connect 127.0.0.1:$closed > doLog\\failed.txt"
expect failed.txt "connecting to 127.0.0.1:$closed ..."
expect failed.txt "error: failed to connect to remote target '127.0.0.1': "
run "iu.exe shell 0 applist > doLog\\both.txt 2>&1"
[[ $(grep -c "error: target not found" doLog/both.txt) == 1 ]] || fail "doLog/both.txt: $(cat doLog/both.txt)"

run "iu.exe kill-server"
run "iu.exe connect 127.0.0.1:$port > doLog\\step1.txt"
expect step1.txt "connected to 127.0.0.1:$port"
cp doLog/step1.txt step1.kept
check_deletable step1.txt
run "iu.exe devices > doLog\\step2.txt"
expect step2.txt "device"
run "iu.exe shell 0 getappinstallpath > doLog\\step3.txt"
run "iu.exe shell 0 vd_appuninstall $id; echo cmd_ret:\$?; > doLog\\step4.txt"
expect step4.txt "cmd_ret:0"
run "iu.exe shell 0 mkdir $d"
run "iu.exe push Velmora.wgt $d/Velmora.wgt > doLog\\step5.txt"
expect step5.txt "1 file(s) pushed. 0 file(s) skipped."
run "iu.exe shell 0 vd_appinstall $id $d/Velmora.wgt; echo cmd_ret:\$?; > doLog\\step6.txt"
expect step6.txt "app_id[$id] install completed"
expect step6.txt "cmd_ret:0"
run "iu.exe shell 0 rmfile $d/Velmora.wgt"
# A file name outside the ANSI code page, given on the command line.
cp Velmora.wgt "Виджет.wgt"
run "iu.exe push Виджет.wgt $d/copy.wgt > doLog\\named.txt"
expect named.txt "Виджет.wgt   "
cmp -s Velmora.wgt "tv/fs$d/copy.wgt" || fail "the Cyrillic-named file did not arrive whole"
[[ ! -e tv/fs$d/Velmora.wgt ]] || fail "rmfile left the package on the TV"
run "iu.exe shell 0 applist > doLog\\step7.txt"
expect step7.txt "'$id'"
check_deletable step7.txt
run "iu.exe kill-server"
timeout 20 wine cmd.exe /c "del iu.exe" >/dev/null 2>&1 || true
[[ ! -e iu.exe ]] || fail "iu.exe cannot be deleted after kill-server"
echo "iu.exe installed $id through cmd.exe from '$work'; logs and iu.exe deletable right after use"
