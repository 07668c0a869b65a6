#!/bin/bash
# Starts vok on an empty data folder, answers the first-run dialog and the
# log-in by keyboard (user, Tab, password, Tab, 部门A, Enter), shows the
# accounts and the log rows written, then closes the main window by Esc.
# Needs xdotool and sqlite3. Run from the build folder:
#   xvfb-run -a ../tests/app/first_run_xvfb.sh
set -u
D=$(mktemp -d)
./bin/vok --data-dir "$D" > "$D/vok.out" 2>&1 &
PID=$!
w() { for i in $(seq 1 50); do id=$(xdotool search --name "^$1\$" 2>/dev/null | head -1); [ -n "$id" ] && { echo $id; return; }; sleep 0.2; done; }
FR=$(w 建立管理员帐户); echo "first-run window: $FR"
xdotool windowactivate --sync $FR 2>/dev/null; xdotool windowfocus --sync $FR; sleep 0.3
xdotool type --delay 30 'admin'; xdotool key Tab; xdotool type --delay 30 'Pw1'; xdotool key Tab; xdotool type --delay 30 'Pw1'; xdotool key Return
sleep 1
LG=$(w 登录数据库); echo "log-in window: $LG"
xdotool windowfocus --sync $LG; sleep 0.3
xdotool type --delay 30 'admin'; xdotool key Tab; xdotool type --delay 30 'Pw1'; xdotool key Tab
xdotool type --delay 50 '部门A'; sleep 0.2; xdotool key Return
sleep 1
MW=$(w 仓库管理系统); echo "main window: $MW"
sqlite3 "$D/vok1.db" 'select user, substr(pswd,1,10), class from user; select do_user, do_what, do_date from HOWDO'
xdotool windowfocus --sync $MW; xdotool key Escape; sleep 1
kill -0 $PID 2>/dev/null && { echo "still running"; kill $PID; } || { wait $PID; echo "vok exited rc=$?"; }
