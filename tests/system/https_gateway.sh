#!/usr/bin/env bash
# The agent's request over HTTPS with the real call server, as one ctest test of the Windows
# build: talmery-gateway (from the native build) serving HTTPS with certificates of a test
# authority (one for the name the agent asks for, one for another name, one expired), one with a
# self-signed certificate, and one serving plain HTTP. The Wine test trusts the authority in the
# prefix's machine store for its run and asks each; then each gateway's store tells which
# requests became calls.
# Usage: https_gateway.sh <native build folder> <system_https_gateway_tests.exe>
set -euo pipefail
native=$1
exe=$2
. "$(dirname "$0")/system_lib.sh" https-gateway
. "$(dirname "$0")/test_authority.sh"

cd "$work"
make_test_authority
issue_certificate valid localhost 30
issue_certificate othername other.brisomel.test 30
issue_certificate expired localhost -1
# A certificate for the name from an authority the agent's machine does not trust.
openssl req -x509 "${test_keys[@]}" -days 30 -subj "/CN=Unknown CA" -keyout unknown.key -out unknown.crt 2>/dev/null
openssl req "${test_keys[@]}" -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost" -keyout unknownca.key \
  -out unknownca.csr 2>/dev/null
openssl x509 -req -in unknownca.csr -CA unknown.crt -CAkey unknown.key -days 30 -copy_extensions copy \
  -out unknownca.pem 2>/dev/null
openssl req -x509 "${test_keys[@]}" -days 30 -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost" \
  -keyout selfsigned.key -out selfsigned.pem 2>/dev/null
chmod 600 ./*.key

base=$(python3 "$(dirname "$0")/../../tools/ci/free_ports.py" 6)
[ -n "$base" ] || { echo "no free ports"; exit 1; }
i=0
for g in valid othername expired selfsigned unknownca plain; do
  port=$((base + i)); i=$((i + 1))
  mkdir -p "$g.spoken"
  {
    echo "listen = 127.0.0.1:$port"
    echo "database = $work/$g.db"
    echo "mode = speaker"
    echo "speaker_dir = $work/$g.spoken"
    echo "retry_pause = 3600"
    echo "numbers = 555*"
    if [ "$g" != plain ]; then
      echo "tls_certificate = $work/$g.pem"
      echo "tls_key = $work/$g.key"
    fi
  } >"$g.conf"
  "$native/gateway/talmery-gateway" --config "$g.conf" >"$g.out" 2>"$g.log" &
  pids+=($!)
  wait_for_line "$g.log" 'event=start' "${pids[-1]}"
  # Its folder for spoken calls made a file: each call is stored and its try fails at once (tried
  # again only an hour later), so what was taken stays in the store to be counted.
  rm -rf "$g.spoken"
  : >"$g.spoken"
  export "BRISOMEL_HTTPS_PORT_${g^^}=$port"
done

status=0
BRISOMEL_TEST_CA=$(windows_path ca.crt) wine "$exe" </dev/null || status=$?

# The test authority is trusted for the test's run only.
if test_authority_trusted; then
  echo "the test authority is still trusted in the prefix after the run"; status=1
fi

# Which requests became calls: only those to the gateway with the valid certificate.
for g in valid othername expired selfsigned unknownca plain; do
  want=0
  [ "$g" = valid ] && want=3  # https://localhost, written HTTPS://localhost/, and the one read back
  got=$(python3 -c 'import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute("SELECT COUNT(*) FROM calls").fetchone()[0])' "$g.db")
  if [ "$got" != "$want" ]; then
    echo "the gateway with the $g certificate stored $got calls, not $want"; status=1
  fi
done
if [ "$status" != 0 ]; then
  for g in valid othername expired selfsigned unknownca plain; do echo "--- $g gateway log"; cat "$g.log"; done
  # The certificates of the run (made anew each time), to see what a refusal was about.
  for f in ca.crt unknown.crt valid.pem othername.pem expired.pem selfsigned.pem unknownca.pem; do
    echo "--- $f"; cat "$f"
  done
fi
exit "$status"
