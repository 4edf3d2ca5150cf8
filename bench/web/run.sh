#!/usr/bin/env bash
# Side-by-side load test of the built-in web server and nginx on loopback: the same 4 KiB file, wrk
# with 16 keep-alive connections, one run each. Prints requests per second, median and p99 latency,
# the ratios to nginx and whether the log recorded every request.
#   bench/web/run.sh [BUILD_DIR]      (DURATION=10s THREADS=2 CONNECTIONS=16 to change the load)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
duration=${DURATION:-10s}
threads=${THREADS:-2}
connections=${CONNECTIONS:-16}

# The load tools are the benchmark's own business, not the test command's.
need=()
command -v wrk >/dev/null || need+=(wrk)
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || need+=(nginx-light)
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  echo "bench: installing ${need[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

if [ ! -d "$build" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target web_bench_server -j 2 >/dev/null
server_bin=$(find "$build" -name web_bench_server -type f -perm -u+x | head -1)

work=$(mktemp -d)
server_pid=
nginx_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/nginx"
# nginx's workers drop root; they must be able to read the folder.
chmod 755 "$work" "$work/www"
python3 - "$work/www/page.htm" <<'PY'
import sys
body = "<html><body>" + "x" * (4096 - len("<html><body></body></html>")) + "</body></html>"
open(sys.argv[1], "w").write(body)
PY
chmod 644 "$work/www/page.htm"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

nginx_port=$(free_port)
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes auto;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log $work/nginx/access.log;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  types { text/html htm; }
  sendfile on;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
  }
}
CONF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!

coproc SERVER { "$server_bin" "$work/www" 0 "$work/bench.ini"; }
server_pid=$SERVER_PID
read -r server_port <&"${SERVER[0]}"

for _ in $(seq 50); do
  curl -sf -o /dev/null "http://127.0.0.1:$nginx_port/page.htm" && break
  sleep 0.1
done
curl -sf -o /dev/null -H 'Connection: Keep-Alive' "http://127.0.0.1:$server_port/page.htm"

# wrk speaks HTTP/1.1 without a Connection header; this server keeps a connection only when asked.
load() {
  wrk -t"$threads" -c"$connections" -d"$2" --latency -H 'Connection: Keep-Alive' "http://127.0.0.1:$1/page.htm"
}
field() { # $1 output, $2 what
  case $2 in
    rps) awk '/^Requests\/sec:/ {print $2}' <<<"$1" ;;
    p50) awk '$1=="50%" {print $2}' <<<"$1" ;;
    p99) awk '$1=="99%" {print $2}' <<<"$1" ;;
    total) awk '/requests in/ {print $1}' <<<"$1" ;;
    errors) awk '/Non-2xx|Socket errors/ {print}' <<<"$1" ;;
  esac
}
to_us() { # wrk prints 1.23ms, 850.00us, 1.10s
  awk -v v="$1" 'BEGIN { n=v+0; if (v ~ /us$/) print n; else if (v ~ /ms$/) print n*1000; else if (v ~ /s$/) print n*1000000; else print n }'
}

load "$nginx_port" 2s >/dev/null
nginx_out=$(load "$nginx_port" "$duration")
warm=$(load "$server_port" 2s)
ours_out=$(load "$server_port" "$duration")

exec {SERVER[1]}>&-
read -r recorded_line <&"${SERVER[0]}" || true
wait "$server_pid" || true
server_pid=
recorded=${recorded_line#recorded }

served=$(( $(field "$warm" total) + $(field "$ours_out" total) + 1 ))
n_rps=$(field "$nginx_out" rps); o_rps=$(field "$ours_out" rps)
n_p50=$(to_us "$(field "$nginx_out" p50)"); o_p50=$(to_us "$(field "$ours_out" p50)")
n_p99=$(to_us "$(field "$nginx_out" p99)"); o_p99=$(to_us "$(field "$ours_out" p99)")

printf '%-12s %12s %12s %12s\n' server requests/s p50_us p99_us
printf '%-12s %12s %12s %12s\n' nginx "$n_rps" "$n_p50" "$n_p99"
printf '%-12s %12s %12s %12s\n' streamwright "$o_rps" "$o_p50" "$o_p99"
[ -n "$(field "$nginx_out" errors)" ] && echo "nginx: $(field "$nginx_out" errors)"
[ -n "$(field "$ours_out" errors)" ] && echo "streamwright: $(field "$ours_out" errors)"
awk -v o="$o_rps" -v n="$n_rps" -v op="$o_p99" -v np="$n_p99" 'BEGIN {
  printf "requests/s ratio (streamwright/nginx): %.2f  (target >= 0.50)\n", o / n
  printf "p99 ratio (streamwright/nginx):        %.2f  (target <= 3.00)\n", op / np
}'
if [ -n "$(field "$nginx_out" errors)$(field "$ours_out" errors)" ]; then
  echo "bench: errors during the runs; the numbers above are not comparable" >&2
fi
echo "log: $recorded entries recorded for at least $served completed requests"
if [ "$recorded" -ge "$served" ]; then echo "log kept up: yes"; else echo "log kept up: NO"; fi
