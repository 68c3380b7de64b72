#!/usr/bin/env bash
# install_deps_test.sh TOP: runs TOP/tools/install-deps.sh (make deps) once for each case of the table
# below, with apt-get, dpkg-query, dpkg, sudo and sleep replaced by stubs that act out the case and
# write each call of apt-get and dpkg to a file, and checks the calls and the exit code: the retries
# of apt-get update, the index that it names when they all fail, and the install from the release's
# own suite, without the network and without installing anything.
set -euo pipefail
top=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The suite that the fallback names is the running release's, as install-deps.sh reads it.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "FAIL: /etc/os-release names no release codename"; exit 1; }

mkdir "$scratch/bin"
stub() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$scratch/bin/$1" && chmod +x "$scratch/bin/$1"; }
# apt-get update takes the outcome of its try from STUB_UPDATE (ok or fail, comma-separated, the last
# one for every further try); apt-get install takes STUB_INSTALL, or STUB_INSTALL_T when it is given
# a target release. The failures print what apt-get prints for them.
stub apt-get '
echo "apt-get $*" >>"$STUB_CALLS"
fail() { printf "%s\n" "$@" >&2; exit 100; }
case " $* " in
*" update "*)
    tries=$(grep -c "^apt-get update" "$STUB_CALLS")
    IFS=, read -ra outcomes <<<"$STUB_UPDATE"
    outcome=${outcomes[tries - 1]:-${outcomes[-1]}}
    [ "$outcome" = ok ] || fail \
        "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]" \
        "E: Some index files failed to download. They have been ignored, or old ones used instead." ;;
*" install "*)
    outcome=$STUB_INSTALL
    [[ " $* " = *" -t "* ]] && outcome=$STUB_INSTALL_T
    [ "$outcome" = ok ] || fail "E: Unable to correct problems, you have held broken packages." ;;
esac'
stub dpkg-query '[ "$STUB_INSTALLED" = yes ] && echo "install ok installed" || exit 1'
stub dpkg 'echo "dpkg $*" >>"$STUB_CALLS"; [ "$1" != --print-foreign-architectures ] || echo i386'
stub sudo 'exec "$@"'
stub sleep 'exit 0'

# installed: what dpkg-query says of every package; update, install, install_t: the stubs' outcomes;
# then the expected exit code, the number of apt-get update calls, of apt-get install calls, of those
# with "-t <release>", and whether the output names the index that could not be read.
failures=0
while read -r name installed update install install_t status updates installs with_t names_index; do
    [ -z "$name" ] || [ "${name:0:1}" = "#" ] && continue
    : >"$scratch/calls"
    got_status=0
    STUB_CALLS=$scratch/calls STUB_INSTALLED=$installed STUB_UPDATE=$update STUB_INSTALL=$install \
        STUB_INSTALL_T=$install_t KIV_APT_RETRY_PAUSE=0 PATH="$scratch/bin:$PATH" \
        "$top/tools/install-deps.sh" >"$scratch/output" 2>&1 || got_status=$?
    calls=$scratch/calls
    got_updates=$(grep -c '^apt-get update' "$calls" || true)
    got_installs=$(grep -c '^apt-get install' "$calls" || true)
    got_with_t=$(grep -c "^apt-get install.* -t $codename " "$calls" || true)
    got_names_index=no
    grep -q 'debian-security/dists/bookworm-security/main/binary-i386/Packages.xz' "$scratch/output" && got_names_index=yes
    got="$got_status $got_updates $got_installs $got_with_t $got_names_index"
    want="$status $updates $installs $with_t $names_index"
    if [ "$got" != "$want" ]; then
        echo "FAIL: $name: exit, updates, installs, installs with -t $codename, index named: $got, wanted $want"
        sed 's/^/    calls: /' "$calls"
        sed 's/^/    output: /' "$scratch/output"
        failures=$((failures + 1))
    fi
done <<'EOF'
# name          installed update          install install_t status updates installs with_t names_index
plain           no        ok              ok      fail      0      1       1        0      no
mirror_sync     no        fail            fail    ok        0      3       2        1      yes
update_retried  no        fail,ok         ok      fail      0      2       1        0      no
unresolvable    no        ok              fail    ok        1      1       1        0      no
all_installed   yes       ok              ok      ok        0      0       0        0      no
EOF

[ $failures -eq 0 ] && echo PASS
exit $((failures != 0))
