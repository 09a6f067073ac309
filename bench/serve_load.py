"""Load on zelkdump serve: CLIENTS concurrent clients (processes, one
connection each, keep-alive) each look up ROUNDS random keys of a generated
dictionary of LINES realistic entries (about GCIDE's size at the default),
checking every answer against the text it was packed from; then median and
99th-percentile latency, and the server's peak memory before and after.

  /usr/bin/python3 bench/serve_load.py [BUILD_DIR] [LINES] [CLIENTS] [ROUNDS]
"""
import http.client
import json
import multiprocessing
import os
import random
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse

build = subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "build.sh"),
                        sys.argv[1] if len(sys.argv) > 1 else "build/release"],
                       capture_output=True, check=True, text=True).stdout.strip()
lines = int(sys.argv[2]) if len(sys.argv) > 2 else 200000
clients = int(sys.argv[3]) if len(sys.argv) > 3 else 200
rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 25

work = tempfile.mkdtemp(prefix="zelk-serve.", dir="/dev/shm")
try:
    text = subprocess.run([f"{build}/bench/gen_dict", "realistic", str(lines)],
                          capture_output=True, check=True).stdout
    with open(f"{work}/d.txt", "wb") as f:
        f.write(text)
    subprocess.run([f"{build}/src/zelkpack", "-l", "-o", "d.pdb", "d.txt"], cwd=work,
                   capture_output=True, check=True)
    entries = {}
    for line in text.split(b"\n"):
        if b"\t" in line:
            k, v = line.split(b"\t", 1)
            entries.setdefault(k.decode(), []).append(v.decode())
    keys = list(entries)
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    server = subprocess.Popen([f"{build}/src/zelkdump", "serve", "d.pdb", "--port", str(port)],
                              cwd=work, stdout=subprocess.PIPE, stderr=open(f"{work}/server.err", "wb"))
    server.stdout.readline()

    def peak_kb():
        with open(f"/proc/{server.pid}/status") as f:
            return next(int(l.split()[1]) for l in f if l.startswith("VmHWM"))

    idle = peak_kb()
    # One process a client (forked, sharing the entries), so that the
    # clients' own interpreter lock does not show up as server latency.
    ctx = multiprocessing.get_context("fork")
    start = ctx.Barrier(clients)

    def client(seed, results):
        rng = random.Random(seed)
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        mine, bad, retried = [], [], [0]
        start.wait()
        for r in range(rounds):
            key = rng.choice(keys)
            t = time.perf_counter()
            got, offset, more = [], 0, True
            while more:  # a key repeated more than 500 times takes pages
                url = "/api/lookup?" + urllib.parse.urlencode(
                    {"q": key, "limit": 500, "offset": offset})
                try:
                    conn.request("GET", url)
                    body = conn.getresponse().read()
                except (http.client.RemoteDisconnected, ConnectionResetError):
                    # The server closed an idle kept-alive connection just as
                    # we reused it; a browser asks again, and so do we.
                    conn.close()
                    retried[0] += 1
                    conn.request("GET", url)
                    body = conn.getresponse().read()
                answer = json.loads(body)
                got += [e["value"] for e in answer["entries"] if e["key"] == key]
                offset += 500
                more = answer["more"]
            mine.append((time.perf_counter() - t, r))
            if sorted(got) != sorted(entries[key]):
                bad.append((key, len(entries[key]), len(got)))
        conn.close()
        results.put((mine, bad, retried[0]))

    results = ctx.Queue()
    procs = [ctx.Process(target=client, args=(i, results)) for i in range(clients)]
    for p in procs:
        p.start()
    t0 = time.perf_counter()
    latencies, wrong, retries = [], [], 0
    for _ in procs:
        mine, bad, retried = results.get()
        latencies += mine
        wrong += bad
        retries += retried
    wall = time.perf_counter() - t0
    for p in procs:
        p.join()
    loaded = peak_kb()
    server.terminate()
    server.wait()
    later = sorted(t for t, r in latencies if r > 0)
    latencies = sorted(t for t, *_ in latencies)
    n = len(latencies)
    print(f"dictionary: {lines} entries, {len(text)} bytes, "
          f"{os.path.getsize(f'{work}/d.pdb')} bytes packed")
    print(f"{clients} concurrent clients x {rounds} lookups = {n} in {wall:.2f} s "
          f"({n / wall:.0f} per second); wrong answers: {len(wrong)}; "
          f"requests asked again on a closed idle connection: {retries}")
    print(f"latency: median {statistics.median(latencies) * 1000:.2f} ms, "
          f"99th percentile {latencies[int(n * 0.99) - 1] * 1000:.2f} ms, "
          f"max {latencies[-1] * 1000:.2f} ms")
    # The first lookups of all clients start at the same instant, with the
    # clients' connections; the rest show the server in its stride.
    print(f"without each client's first lookup: median "
          f"{statistics.median(later) * 1000:.2f} ms, 99th percentile "
          f"{later[int(len(later) * 0.99) - 1] * 1000:.2f} ms")
    print(f"server peak memory: {idle // 1024} MB idle, {loaded // 1024} MB after the load")
    for w in wrong[:5]:
        print("wrong:", w)
    sys.exit(1 if wrong else 0)
finally:
    if os.path.exists(f"{work}/server.err"):
        sys.stderr.write(open(f"{work}/server.err").read()[-3000:])
    shutil.rmtree(work)
