#!/usr/bin/env bash
# lighttpd on a free loopback port as the HTTP peer of the Windows tests, which
# run under Wine and reach it over the shared loopback:
#   /digest/...  Digest, /basic/...  Basic, /open/...  no authentication,
#   /slow/...    answers after 10 s.
# GETs of /<area>/PSIA/<path> read www/<area>/PSIA/<path>.xml; PUTs append
# "<target> <length>\n<body>\n" to puts.log and answer 200.
# Usage: http_peer.sh start DIR | stop DIR   (DIR/port holds the port)
set -euo pipefail
dir=$2
case "$1" in
  stop)
    [ -f "$dir/pid" ] && kill "$(cat "$dir/pid")" 2>/dev/null || true
    rm -f "$dir/pid"
    exit 0
    ;;
  start) ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac

realm="PSIA lighttpd"
rm -rf "$dir"
mkdir -p "$dir"
for area in digest basic open; do
  mkdir -p "$dir/www/$area/PSIA/System"
  cat >"$dir/www/$area/PSIA/System/deviceInfo.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<DeviceInfo version="1.0" xmlns="urn:psialliance-org">
<deviceName>Peer</deviceName>
<model>Lighttpd-$area</model>
</DeviceInfo>
XML
  cat >"$dir/www/$area/put.cgi" <<CGI
#!/bin/sh
{ printf '%s %s\n' "\$REQUEST_URI" "\${CONTENT_LENGTH:-0}"; cat; printf '\n'; } >> '$dir/puts.log'
printf 'Status: 200 OK\r\nContent-Type: application/xml\r\n\r\n<ResponseStatus><statusCode>1</statusCode></ResponseStatus>\n'
CGI
done
mkdir -p "$dir/www/slow"
printf '#!/bin/sh\nsleep 10\nprintf "Status: 200 OK\\r\\n\\r\\nlate\\n"\n' >"$dir/www/slow/slow.cgi"
printf 'admin:%s:%s\n' "$realm" "$(printf 'admin:%s:admin' "$realm" | md5sum | cut -d' ' -f1)" >"$dir/users"

for attempt in 1 2 3; do
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat >"$dir/lighttpd.conf" <<CONF
server.modules = ("mod_rewrite", "mod_auth", "mod_authn_file", "mod_cgi")
server.document-root = "$dir/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$dir/error.log"
server.stat-cache-engine = "disable"
mimetype.assign = (".xml" => "application/xml")
auth.backend = "htdigest"
auth.backend.htdigest.userfile = "$dir/users"
auth.require = ("/digest/" => ("method" => "digest", "realm" => "$realm", "require" => "valid-user"),
                "/basic/" => ("method" => "basic", "realm" => "$realm", "require" => "valid-user"))
cgi.assign = (".cgi" => "/bin/sh")
\$HTTP["request-method"] == "PUT" {
  url.rewrite-once = ("^/([a-z]+)/PSIA/" => "/\$1/put.cgi")
} else {
  url.rewrite-once = ("^/slow/" => "/slow/slow.cgi", "^(/[a-z]+/PSIA/[^?]*)" => "\$1.xml")
}
CONF
  /usr/sbin/lighttpd -D -f "$dir/lighttpd.conf" >"$dir/output.log" 2>&1 &
  echo $! >"$dir/pid"
  for _ in $(seq 100); do
    if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null; then
      echo "$port" >"$dir/port"
      exit 0
    fi
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
    sleep 0.05
  done
  kill "$(cat "$dir/pid")" 2>/dev/null || true
done
echo "lighttpd did not start: $(cat "$dir/output.log")" >&2
exit 1
