#!/usr/bin/env python3
"""What one peer can make the daemon hold. As root, with no other quorlin_gd
running (it uses the real socket and pid file):

  scripts/measure_peer_limits.py memory [BINARY] [FRAME_BYTES]
      for each hostile request (short keys, '[' nesting, one long string in
      a full request or alone, \\u escapes) filling FRAME_BYTES (default
      74752; passed as --max-message-bytes), a fresh daemon: one warm-up
      request, peak resident memory reset (/proc/PID/clear_refs), the
      request, then VmHWM before and after.
  scripts/measure_peer_limits.py peers [BINARY] [HOLD_SECONDS]
      uid 54321 opens 40 connections, each stalled halfway through a frame of
      the default bound; uid 54322 then asks for a thumbnail and is timed;
      after HOLD_SECONDS (default 0) the first uid goes; the daemon's threads,
      memory and ERROR lines are printed.
"""
import os, socket, struct, subprocess, sys, tempfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
mode = sys.argv[1] if len(sys.argv) > 1 else "memory"
binary = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else os.path.join(ROOT, "build/src/main/quorlin_gd")
# The socket the daemon binds, from the build folder holding BINARY.
with open(os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(binary))), "ql_protocol.env")) as env:
    SOCKET = dict(line.strip().split("=", 1) for line in env if "=" in line)["QL_SOCKET_PATH"]
DEFAULTS = os.path.join(ROOT, "build/default_pictures")


def start(extra):
    folder = tempfile.mkdtemp()
    os.chmod(folder, 0o777)
    daemon = subprocess.Popen([binary, "-l", "1", "-o", folder] + extra, cwd=folder)
    for _ in range(200):
        if daemon.poll() is not None:
            sys.exit("the daemon ended at once (another quorlin_gd running?)")
        try:
            probe = socket.socket(socket.AF_UNIX)
            probe.connect(SOCKET)
            probe.close()
            return daemon, folder
        except OSError:
            time.sleep(0.05)
    sys.exit("the daemon does not serve")


def status(daemon, key):
    for line in open(f"/proc/{daemon.pid}/status"):
        if line.startswith(key + ":"):
            return int(line.split()[1])


def ask(connection, body):
    connection.sendall(struct.pack(">I", len(body)) + body)
    connection.settimeout(20)
    header = b""
    while len(header) < 4:
        try:
            chunk = connection.recv(4 - len(header))
        except socket.timeout:  # invalid JSON gets no reply
            return None
        if not chunk:
            return None
        header += chunk
    size = struct.unpack(">I", header)[0]
    reply = b""
    while len(reply) < size:
        reply += connection.recv(size - len(reply))
    return reply


def request(path, folder):
    return ('{"_path":"%s","_width":64,"_height":48,"_full_screen":false,"_resource_id":7,'
            '"_thumbnail_folder":"%s/c","_default_thumbnail_folder":"%s"}'
            % (path, folder, DEFAULTS)).encode()


def memory(frame):
    def keys():
        parts, size, i = ['{"k0":1'], 7, 1
        while size + 20 < frame:
            part = ',"k%d":1' % i
            parts.append(part)
            size += len(part)
            i += 1
        return ("".join(parts) + "}").encode()
    pad = frame - len(request("", "/tmp/x"))
    cases = [("short keys", lambda f: keys()),
             ("nesting", lambda f: b"[" * frame),
             ("one long path", lambda f: request("a" * (frame - len(request("", f))), f)),
             ("one long string", lambda f: ('{"x":"%s"}' % ("a" * (frame - 10))).encode()),
             ("escaped path", lambda f: request("\\u0041" * (pad // 6), f))]
    for name, make in cases:
        daemon, folder = start(["--max-message-bytes", str(frame)])
        connection = socket.socket(socket.AF_UNIX)
        connection.connect(SOCKET)
        ask(connection, b"{}")
        time.sleep(0.3)
        try:
            body = make(folder)[:frame]
            open(f"/proc/{daemon.pid}/clear_refs", "w").write("5")
            before = status(daemon, "VmHWM")
            reply = ask(connection, body)
            after = status(daemon, "VmHWM")
            print(f"{name:16s} {len(body):9d} bytes, reply {None if reply is None else len(reply)}: "
                  f"VmHWM {before} -> {after} KiB (+{after - before})", flush=True)
        finally:
            daemon.terminate()
            daemon.wait()


def become(uid):
    os.setgroups([])
    os.setresgid(uid, uid, uid)
    os.setresuid(uid, uid, uid)


def peers(hold):
    frame = 74752
    daemon, folder = start(["--socket-mode", "0666"])
    time.sleep(0.3)
    print("idle:", status(daemon, "Threads"), "threads,", status(daemon, "VmRSS"), "KiB resident")
    ready_in, ready_out = os.pipe()
    hog = os.fork()
    if hog == 0:
        become(54321)
        connections = []
        for _ in range(40):
            connection = socket.socket(socket.AF_UNIX)
            connection.connect(SOCKET)
            connections.append(connection)
        time.sleep(0.3)
        for connection in connections:
            try:
                connection.sendall(struct.pack(">I", frame) + b" " * (frame // 2))
            except OSError:
                pass
        os.write(ready_out, b"x")
        time.sleep(120)  # killed by the parent before
        os._exit(0)
    os.read(ready_in, 1)
    time.sleep(0.5)
    print("hog: ", status(daemon, "Threads"), "threads,", status(daemon, "VmRSS"), "KiB resident")
    other = os.fork()
    if other == 0:
        try:
            become(54322)
            begun = time.time()
            connection = socket.socket(socket.AF_UNIX)
            connection.connect(SOCKET)
            reply = ask(connection, request(os.path.join(DEFAULTS, "image.jpg"), folder))
            kind = "a PNG" if reply and reply[1:4] == b"PNG" else repr(reply)
            print(f"uid 54322: {kind} in {1000 * (time.time() - begun):.1f} ms", flush=True)
        finally:
            os._exit(0)
    os.waitpid(other, 0)
    time.sleep(hold)
    os.kill(hog, 9)
    os.waitpid(hog, 0)
    time.sleep(1)
    print("after:", status(daemon, "Threads"), "threads")
    daemon.terminate()
    daemon.wait()
    for line in open(os.path.join(folder, "gd.log"), errors="replace"):
        if line.startswith("ERROR:"):
            print(line.rstrip()[:220])


if mode == "memory":
    memory(int(sys.argv[3]) if len(sys.argv) > 3 else 74752)
else:
    peers(float(sys.argv[3]) if len(sys.argv) > 3 else 0)
