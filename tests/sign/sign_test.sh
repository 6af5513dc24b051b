#!/usr/bin/env bash
# The signing step with a throwaway certificate made here: two clean unsigned
# builds are byte-identical, the sign target of one of them writes a signed
# program that verifies against that certificate and leaves the unsigned one
# as built, a timestamp comes from an RFC 3161 server when one is named, bad
# inputs fail without leaving a signed file, and the signed program still runs
# --version and --install under Wine.
# Usage: tests/sign/sign_test.sh WORK_DIR
set -u
src=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:?work directory}
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 2

passed=0
failed=0
check() {  # check WHAT COMMAND...: passes when the command succeeds
    local what=$1
    shift
    if "$@" >"$work/last.log" 2>&1; then
        passed=$((passed + 1))
        echo "ok    $what"
    else
        failed=$((failed + 1))
        echo "FAIL  $what"
        sed 's/^/      /' "$work/last.log" | tail -n 30
    fi
}
refuse() {  # refuse WHAT COMMAND...: passes when the command fails
    local what=$1
    shift
    if "$@" >"$work/last.log" 2>&1; then
        failed=$((failed + 1))
        echo "FAIL  $what (succeeded)"
        sed 's/^/      /' "$work/last.log" | tail -n 30
    else
        passed=$((passed + 1))
        echo "ok    $what"
    fi
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit $?
}
contains() { grep -qF -- "$2" "$1"; }

tsa_pid=""
trap '[ -n "$tsa_pid" ] && kill "$tsa_pid" 2>/dev/null' EXIT

# Throwaway certificates: the code signer, another one it must not verify
# against, and a timestamp authority.
make_cert() {  # make_cert NAME SUBJECT EXTENDED_KEY_USAGE
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 \
        -subj "/CN=$2" -addext "extendedKeyUsage=$3" -addext "keyUsage=critical,digitalSignature" \
        >/dev/null 2>&1
}
printf 'throw away %s\n' "$RANDOM$RANDOM" >password.txt
check "signer certificate made" make_cert signer "Kelvo throwaway signer" codeSigning
check "other certificate made" make_cert other "Someone else" codeSigning
check "timestamp authority certificate made" make_cert tsa "Kelvo throwaway TSA" critical,timeStamping
check "PKCS#12 file made" openssl pkcs12 -export -inkey signer.key -in signer.pem -out signer.p12 \
    -passout file:password.txt
[ "$failed" -eq 0 ] || finish

# Two clean unsigned builds.
check "two clean builds are byte-identical" bash "$src/bench/reproducible.sh" "$work/a" "$work/b/deeper"
[ -f a/kelvo-setup.exe ] || finish
sha256sum <a/kelvo-setup.exe >unsigned.sha256

# No certificate configured: the target fails and writes nothing.
refuse "sign target without a certificate fails" cmake --build a --target sign
cp last.log nocert.log
check "and names the cache option to set" contains nocert.log "KELVO_SIGN_PKCS12"
check "and writes no signed program" test ! -e a/kelvo-setup-signed.exe

# The target, as a user runs it.
check "configured with the certificate" cmake -S "$src" -B a -DKELVO_SIGN_PKCS12="$work/signer.p12" \
    -DKELVO_SIGN_PASSWORD_FILE="$work/password.txt"
check "sign target" cmake --build a --target sign
check "signed program written" test -s a/kelvo-setup-signed.exe
check "unsigned program left as built" bash -c "sha256sum <a/kelvo-setup.exe | cmp - unsigned.sha256"
check "unsigned program still identical to the other build" cmp a/kelvo-setup.exe b/deeper/kelvo-setup.exe
check "signed program differs from the unsigned one" bash -c "! cmp -s a/kelvo-setup.exe a/kelvo-setup-signed.exe"
check "verifies against the signer's certificate" \
    osslsigncode verify -in a/kelvo-setup-signed.exe -CAfile signer.pem
cp last.log verify.log
check "signature verification ok" contains verify.log "Signature verification: ok"
check "SHA-256 digest" grep -qE "Message digest algorithm *: *SHA256" verify.log
check "signed by the throwaway signer" contains verify.log "Subject: /CN=Kelvo throwaway signer"
check "no timestamp when no server is named" contains verify.log "Timestamp is not available"
refuse "does not verify against another certificate" \
    osslsigncode verify -in a/kelvo-setup-signed.exe -CAfile other.pem
refuse "the unsigned program carries no signature" \
    osslsigncode verify -in a/kelvo-setup.exe -CAfile signer.pem
# What the README tells a user to do to check a release against a build of their own.
check "signature removed" osslsigncode remove-signature -in a/kelvo-setup-signed.exe -out stripped.exe
check "without its signature it is the unsigned build, byte for byte" cmp stripped.exe b/deeper/kelvo-setup.exe

# The script directly: bad inputs.
sign() { cmake -DIN="$work/a/kelvo-setup.exe" -DOUT="$work/$1" "${@:2}" -P "$src/cmake/sign.cmake"; }
printf 'not the password\n' >wrong.txt
echo stale >stale.exe
refuse "wrong password fails" sign stale.exe -DPKCS12="$work/signer.p12" -DPASSWORD_FILE="$work/wrong.txt"
check "and leaves no signed file, not even an older one" test ! -e stale.exe -a ! -e stale.exe.part
refuse "missing PKCS#12 file fails" sign x.exe -DPKCS12="$work/none.p12" -DPASSWORD_FILE="$work/password.txt"
refuse "missing password file fails" sign x.exe -DPKCS12="$work/signer.p12" -DPASSWORD_FILE="$work/none.txt"
check "no file left by either" test ! -e x.exe

# An RFC 3161 timestamp from a server on loopback.
mkdir -p tsa
cat >tsa.cnf <<EOF
[ tsa ]
default_tsa = throwaway
[ throwaway ]
dir = $work
serial = \$dir/tsa/serial
crypto_device = builtin
signer_cert = \$dir/tsa.pem
certs = \$dir/tsa.pem
signer_key = \$dir/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
EOF
echo 01 >tsa/serial
python3 "$src/tests/sign/loopback_tsa.py" "$work/tsa.cnf" "$work/tsa" "$work/tsa/port" "$work/tsa/count" 300 &
tsa_pid=$!
for _ in $(seq 100); do [ -s tsa/port ] && break; sleep 0.1; done
port=$(cat tsa/port 2>/dev/null || echo 0)
check "timestamp server listening" test "$port" -gt 0
check "signed with a timestamp" sign stamped.exe -DPKCS12="$work/signer.p12" \
    -DPASSWORD_FILE="$work/password.txt" -DTIMESTAMP_URL="http://127.0.0.1:$port/"
check "the server was asked" test "$(cat tsa/count 2>/dev/null)" = 1
check "verifies with its timestamp" \
    osslsigncode verify -in stamped.exe -CAfile signer.pem -TSA-CAfile tsa.pem
cp last.log stamped.log
check "timestamp verified" contains stamped.log "Timestamp Server Signature verification: ok"
check "timestamp by the throwaway authority" contains stamped.log "/CN=Kelvo throwaway TSA"
kill "$tsa_pid" 2>/dev/null
wait "$tsa_pid" 2>/dev/null
tsa_pid=""
refuse "a server that does not answer fails the signing" sign late.exe -DPKCS12="$work/signer.p12" \
    -DPASSWORD_FILE="$work/password.txt" -DTIMESTAMP_URL="http://127.0.0.1:$port/"
check "and leaves no file" test ! -e late.exe

# The signed program under Wine, in a fresh prefix.
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
cat >runs.bat <<'EOF'
@echo off
"%~1" --version
echo version-exit=%ERRORLEVEL%
"%~1" --install
echo install-exit=%ERRORLEVEL%
if exist "%LOCALAPPDATA%\Kelvo\kelvo.exe" echo installed-interpreter
if exist "%LOCALAPPDATA%\Kelvo\KelvoIDE.exe" echo installed-editor
reg query "HKCU\Software\Classes\KelvoScript\shell\open\command" >nul 2>&1 && echo registered
EOF
"$src/tests/wine-run.sh" cmd /c "$(winpath "$work/runs.bat")" "$(winpath "$work/a/kelvo-setup-signed.exe")" \
    2>wine.err | tr -d '\r' >wine.out
check "signed: --version prints the version" contains wine.out "Kelvo Setup v2.15"
check "signed: --version exits 0" contains wine.out "version-exit=0"
check "signed: --install exits 0" contains wine.out "install-exit=0"
check "signed: interpreter installed" contains wine.out "installed-interpreter"
check "signed: editor installed" contains wine.out "installed-editor"
check "signed: script type registered" contains wine.out "registered"
finish
