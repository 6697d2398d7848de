"""HTTPS for the tests: certificates made fresh for each use, nginx serving
TLS in front of the status service stand-in, and squid as a real HTTP proxy
that tunnels HTTPS with CONNECT.

The certificates are RSA 2048 with SHA-256, valid from a day ago to 30 days
ahead, made by openssl in a folder of the caller's. "trusted" chains to the
test root, which a test puts into its own Wine prefix only (trust_root),
never into the machine's trust store; "untrusted" has the right names under
another root; "wrong-name" has the test root but names only other.example.
Wine matches the host name against the DNS names of a certificate only, never
against its IP addresses, so a client is pointed at "localhost", not
127.0.0.1 (url()). Wine's WinINet checks no revocation, so the certificates
name no CRL or OCSP responder.

Why RSA, not ECDSA: Wine 8's crypt32 joins an ECDSA signature's r and s as
decoded for the check, so a correct signature with either under 32 bytes
(about one P-256 signature in 128) is judged bad, and about one fresh set in
60 had a trusted chain Wine would not trust. An RSA signature is always as
long as the modulus, whatever the draw.

nginx checks the Basic credentials itself and passes authenticated requests
on, whole, to an upstream port (the status service stand-in), so the
stand-in records only what got through. It must be proxy_pass: an answer
nginx makes itself (return) goes out before auth_basic runs. For a server
that checks a token of its own, the Basic check is left out and every
request goes through.

Every server is started and stopped by its class; a failed start stops the
server and says why from its own output and logs."""

import datetime
import os
import pwd
import shutil
import socket
from signal import SIGKILL, SIGTERM
import subprocess
import tempfile

import harness

# Where Debian's packages put them; nothing here relies on PATH.
OPENSSL = "/usr/bin/openssl"
NGINX = "/usr/sbin/nginx"
HTPASSWD = "/usr/bin/htpasswd"
SQUID = "/usr/sbin/squid"
# Who squid works as when started as root (Debian's cache_effective_user):
# it will not work as root.
SQUID_USER = "proxy"

# Server certificate: (issuer, subjectAltName).
SERVERS = {
    "trusted": ("root", "IP:127.0.0.1,DNS:localhost"),
    "untrusted": ("other-root", "IP:127.0.0.1,DNS:localhost"),
    "wrong-name": ("root", "DNS:other.example"),
}

_CA_CONF = """[ca]
default_ca = test_ca
[test_ca]
database = {dir}/ca/index.txt
new_certs_dir = {dir}/ca
serial = {dir}/ca/serial
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
[root]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = {names}
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _openssl(*args):
    r = subprocess.run([OPENSSL] + list(args), capture_output=True)
    if r.returncode != 0:
        raise RuntimeError("openssl %s failed: %s" % (args[0], r.stderr.decode(errors="replace")))


def _issue(folder, name, extensions, names, issuer):
    """A key and a certificate for it in folder, signed by the issuer's key
    (its own when issuer is None); returns the certificate's path."""
    key, cert, request, conf = (os.path.join(folder, name + ext) for ext in (".key", ".pem", ".csr", ".cnf"))
    with open(conf, "w") as f:
        f.write(_CA_CONF.format(dir=folder, names=names))
    _openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", key)
    _openssl("req", "-new", "-key", key, "-subj", "/CN=Moodshuttle test " + name, "-out", request)
    # openssl ca, since x509 and req cannot start the validity in the past.
    now = datetime.datetime.now(datetime.timezone.utc)
    start, end = ((now + datetime.timedelta(days=d)).strftime("%Y%m%d%H%M%SZ") for d in (-1, 30))
    signer = ["-selfsign", "-keyfile", key] if issuer is None else [
        "-cert", os.path.join(folder, issuer + ".pem"), "-keyfile", os.path.join(folder, issuer + ".key")]
    _openssl("ca", "-batch", "-notext", "-rand_serial", "-config", conf, "-extensions", extensions,
             "-startdate", start, "-enddate", end, "-in", request, "-out", cert, *signer)
    return cert


def make_certs(folder):
    """Makes the two roots and the server certificates of SERVERS in folder
    (emptied first). Returns a dict: "root" and "root_der", the test root as
    PEM and DER files, and for each name of SERVERS a (certificate chain,
    key) pair of paths for TlsService."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "ca"))
    open(os.path.join(folder, "ca", "index.txt"), "w").close()
    made = {"root": _issue(folder, "root", "root", "", None), "root_der": os.path.join(folder, "root.der")}
    _issue(folder, "other-root", "root", "", None)
    _openssl("x509", "-in", made["root"], "-outform", "DER", "-out", made["root_der"])
    for name, (issuer, names) in SERVERS.items():
        cert = _issue(folder, name, "server", names, issuer)
        # The server sends its root too, as many do: without it, Wine's chain
        # for "untrusted" stops short of a root, which WinINet reports as a
        # failed revocation check (12057), not as the untrusted root (12045).
        chain = os.path.join(folder, name + "-chain.pem")
        with open(chain, "w") as out:
            for part in (cert, os.path.join(folder, issuer + ".pem")):
                out.write(harness.read_text(part))
        made[name] = (chain, os.path.join(folder, name + ".key"))
    return made


def trust_root(wine, certs):
    """Makes every program of one harness.Wine prefix trust the test root:
    the probe adds it to the prefix's own machine Root store, as certutil
    -addstore does on Windows. The prefix keeps it (its registry); nothing
    outside the prefix changes."""
    code, out = wine.probe("trustroot", harness.windows_path(certs["root_der"]))
    if code != 0:
        raise RuntimeError("the test root could not be added to the prefix's Root store: %s" % out)


def _start(argv, folder, ready, logs, what, env=None, group=False):
    """Starts a server, its output in folder/WHAT.out, and waits until
    ready() holds; if it ends or 30 s pass first, stops it and raises with
    the end of its output and of its logs (paths in folder). With group,
    the server leads a process group of its own, which _stop signals whole:
    for a server behind a wrapper that passes no signal on."""
    with open(os.path.join(folder, what + ".out"), "wb") as out:
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=out, env=env,
                                start_new_session=group)
    if harness.wait_until(lambda: proc.poll() is not None or ready(), timeout=30, step=0.05) \
            and proc.poll() is None:
        return proc
    _stop(proc, group)
    state = "ended with %d" % proc.returncode if proc.returncode is not None else "not ready after 30 s"
    said = "; ".join("%s: %s" % (name, (harness.read_text(os.path.join(folder, name)) or "(none)")[-2000:])
                     for name in [what + ".out"] + logs)
    raise RuntimeError("%s did not start (%s); %s" % (what, state, said))


def _stop(proc, group=False):
    """Stops a server started by _start, with the same group. A group's
    leader is a wrapper that passes no signal on and cleans up after the
    server once it ends, so the server itself is asked to stop first; the
    stop is over when every process of the group has."""
    def ended():
        return proc.poll() is not None and not (group and _group_members(proc.pid))
    if ended():
        return
    inner = [pid for pid in _group_members(proc.pid) if pid != proc.pid] if group else []
    for pid in inner or [proc.pid]:
        try:
            os.kill(pid, SIGTERM)
        except ProcessLookupError:
            pass  # ended meanwhile
    if harness.wait_until(ended, timeout=20, step=0.05):
        return
    try:
        if group:
            os.killpg(proc.pid, SIGKILL)
        else:
            proc.kill()
    except ProcessLookupError:
        pass
    if not harness.wait_until(ended, timeout=10, step=0.05):
        raise RuntimeError("%s outlived SIGKILL" % proc.args[0])


def _group_members(pgid):
    """The processes of a group that still run (zombies, which only wait
    for their parent to reap them, do not count)."""
    members = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                # pid (comm) state ppid pgrp ...: comm may hold blanks and parentheses.
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue  # ended while we looked
        if fields[0] != "Z" and int(fields[2]) == pgid:
            members.append(int(entry))
    return members


def _listening(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
        return True
    except OSError:
        return False


BASIC_CHECK = """            auth_basic "Status Service";
            auth_basic_user_file {dir}/htpasswd;
"""

NGINX_CONF = """daemon off;
master_process on;
worker_processes 1;
user root;
pid {dir}/nginx.pid;
error_log {dir}/error.log warn;
events {{ worker_connections 256; }}
http {{
    access_log {dir}/access.log;
    client_body_temp_path {dir}/tmp/body;
    proxy_temp_path {dir}/tmp/proxy;
    fastcgi_temp_path {dir}/tmp/fastcgi;
    uwsgi_temp_path {dir}/tmp/uwsgi;
    scgi_temp_path {dir}/tmp/scgi;
    server {{
        listen 127.0.0.1:{port} ssl;
        ssl_certificate {cert};
        ssl_certificate_key {key};
        location / {{
{basic}            proxy_pass http://127.0.0.1:{upstream};
            # The stand-in sees the Host the client sent, not the upstream's.
            proxy_set_header Host $http_host;
        }}
    }}
}}
"""


class TlsService:
    """nginx on 127.0.0.1:port with one server certificate, asking for Basic
    credentials and passing what it lets through to 127.0.0.1:upstream; with
    no username, asking for none and passing everything. Several may run at
    once, each in a folder of its own."""

    def __init__(self, folder, cert, upstream, username=None, password=None):
        """cert: a (certificate chain, key) pair from make_certs. The
        password is checked byte for byte: a str stands for its UTF-8
        bytes, which is what Wine's WinINet sends for any text."""
        self.dir = folder
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(os.path.join(folder, "tmp"))
        if username is not None:
            subprocess.run([HTPASSWD, "-b", "-c", "-m", os.path.join(folder, "htpasswd"), username, password],
                           check=True, capture_output=True)
        self.port = free_port()
        conf = os.path.join(folder, "nginx.conf")
        basic = BASIC_CHECK.format(dir=folder) if username is not None else ""
        with open(conf, "w") as f:
            f.write(NGINX_CONF.format(dir=folder, port=self.port, upstream=upstream, cert=cert[0], key=cert[1],
                                      basic=basic))
        self.proc = _start([NGINX, "-p", folder, "-c", conf, "-e", os.path.join(folder, "error.log")], folder,
                           lambda: _listening(self.port), ["error.log"], "nginx")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def url(self, path="/"):
        return "https://localhost:%d%s" % (self.port, path)

    def access_log(self):
        """nginx's line for each request it answered, 401s included."""
        return (harness.read_text(os.path.join(self.dir, "access.log")) or "").splitlines()

    def stop(self):
        _stop(self.proc)


SQUID_CONF = """http_port 127.0.0.1:{port}
visible_hostname localhost
pid_filename {dir}/squid.pid
cache_log {dir}/cache.log
access_log stdio:{dir}/access.log
cache_store_log none
logfile_rotate 0
coredump_dir {dir}
netdb_filename none
pinger_enable off
icp_port 0
htcp_port 0
# Names come from a hosts file of ours, where localhost is 127.0.0.1 alone,
# where the services listen: a machine's /etc/hosts may name ::1 for it too,
# and squid then tried that alone. Any other lookup stays on loopback and
# fails.
hosts_file {dir}/hosts
dns_nameservers 127.0.0.1
cache deny all
cache_mem 0
# localhost is one of squid's own ACLs; CONNECT may go to any port.
http_access allow localhost
http_access deny all
# A stop ends open tunnels at once, not after the default 30 s.
shutdown_lifetime 0 seconds
"""


class Squid:
    """Debian's squid as an HTTP proxy on 127.0.0.1:port, in the foreground,
    with its configuration, logs and pid file in folder. When the caller is
    root, squid works as SQUID_USER, who must reach that folder: a clone in
    root's home (mode 700) would not let them through, so squid then works
    in a folder of its own under /tmp, made theirs and removed at stop."""

    def __init__(self, folder):
        self.temporary = os.geteuid() == 0
        if self.temporary:
            folder = tempfile.mkdtemp(prefix="moodshuttle-squid-")
            user = pwd.getpwnam(SQUID_USER)
            os.chown(folder, user.pw_uid, user.pw_gid)
        else:
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
        self.dir = folder
        self.port = free_port()
        conf = os.path.join(folder, "squid.conf")
        with open(conf, "w") as f:
            f.write(SQUID_CONF.format(dir=folder, port=self.port))
        with open(os.path.join(folder, "hosts"), "w") as f:
            f.write("127.0.0.1 localhost\n")
        # Its log says when it listens; a test connection would be logged as a request.
        log = os.path.join(folder, "cache.log")
        try:
            self.proc = _start([SQUID, "-N", "-f", conf], folder,
                               lambda: "Accepting HTTP Socket connections" in (harness.read_text(log) or ""),
                               ["cache.log"], "squid")
        except BaseException:
            if self.temporary:
                shutil.rmtree(folder, ignore_errors=True)
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def proxy(self):
        """The value for http_proxy."""
        return "http://127.0.0.1:%d" % self.port

    def access_log(self):
        """squid's line for each finished request; a CONNECT tunnel's comes
        when the tunnel closes, e.g. "... TCP_TUNNEL/200 1633 CONNECT
        localhost:PORT - HIER_DIRECT/127.0.0.1 -"."""
        return (harness.read_text(os.path.join(self.dir, "access.log")) or "").splitlines()

    def stop(self):
        try:
            _stop(self.proc)
        finally:
            if self.temporary:
                shutil.rmtree(self.dir, ignore_errors=True)
