#!/usr/bin/python3
"""Two picture attacks on the whole display, with what they cost.

  log    Pictures with a valid PNG header and a body that does not decode
         (as data: URLs and as local files), sent in a promo catalogue by a
         host that then leaves. Prints the display's log bytes per minute,
         then has the terminal resend a catalogue without them and prints
         the bytes of the minute after.
  churn  A picture fetched from a local HTTP server (python3 -m http.server),
         the server gone, the catalogue resent so that it is served from the
         disk cache, then dropped; repeated with new 8 KB URLs. Prints RSS and
         open files at the start, after the last drop and 60 s later.

Run it as root in a network namespace of its own, with Xvfb on a display
number no other display uses:
  unshare -n /usr/bin/python3 bench/hostile_pictures.py APP log [MINUTES] [DISPLAY]
  unshare -n /usr/bin/python3 bench/hostile_pictures.py APP churn [URLS] [DISPLAY]
Uses Debian's python3-websockets.
"""
import asyncio
import base64
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import zlib

import websockets

PORT = 30058
HTTP_PORT = 8431


def entry(number, url):
    day = [["00:00", "23:59"]]
    return {
        "uuid": f"00000000-0000-4000-8000-{number:012d}",
        "name": f"promo {number}",
        "is_active": True,
        "image": url,
        "is_order_screen": True,
        "is_queue": False,
        "start_at": "2024-01-01T00:00:00+03:00",
        "end_at": None,
        "schedule": {d: day for d in ("monday", "tuesday", "wednesday", "thursday",
                                       "friday", "saturday", "sunday")},
        "created_by": 1,
        "created_at": "2024-01-01T09:00:00+03:00",
        "updated_at": "2024-01-01T09:00:00+03:00",
        "deleted_at": None,
        "timeout": 2,
    }


def catalogue(urls, first=0):
    entries = [entry(first + i, url) for i, url in enumerate(urls)]
    return json.dumps({"path": "promo_image", "content": {"promo_images": entries}}).encode()


def png_chunk(kind, data):
    return len(data).to_bytes(4, "big") + kind + data + zlib.crc32(kind + data).to_bytes(4, "big")


def broken_png(size, seed):
    """A valid signature and IHDR, then an IDAT that does not inflate."""
    head = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", (640).to_bytes(4, "big") * 2 + b"\x08\x02\x00\x00\x00")
    body = bytes((seed * 31 + i * 7) & 0xFF for i in range(size - len(head) - 24))
    return head + png_chunk(b"IDAT", body) + png_chunk(b"IEND", b"")


def good_png(width, height):
    rows = b"".join(b"\x00" + b"".join(bytes((x * 255 // width, y * 255 // height, 128)) for x in range(width))
                    for y in range(height))
    ihdr = width.to_bytes(4, "big") + height.to_bytes(4, "big") + b"\x08\x02\x00\x00\x00"
    return b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", zlib.compress(rows)) + png_chunk(b"IEND", b"")


def status(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def fds(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def start_display(app, display, work):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    os.makedirs(f"{work}/xdg", mode=0o700)
    xvfb = subprocess.Popen(["Xvfb", f":{display}", "-screen", "0", "1280x800x24", "-dpi", "96", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.5)
    if xvfb.poll() is not None:
        raise SystemExit(f"Xvfb :{display} did not start (is the number taken?)")
    env = dict(os.environ, DISPLAY=f":{display}", XDG_RUNTIME_DIR=f"{work}/xdg", XDG_CACHE_HOME=f"{work}/cache",
               QT_QPA_PLATFORM="xcb", QT_LOGGING_RULES="default.debug=false")
    log = open(f"{work}/log", "wb")
    proc = subprocess.Popen([app], env=env, stdout=log, stderr=subprocess.STDOUT)
    time.sleep(6)
    return xvfb, proc


async def send_from(host, message):
    async with websockets.connect(f"ws://127.0.0.1:{PORT}", max_size=None, compression=None,
                                  local_addr=(host, 0)) as ws:
        await ws.send(message)
        await asyncio.sleep(1)


async def attack_log(work, pid, minutes):
    terminal = await websockets.connect(f"ws://127.0.0.1:{PORT}", max_size=None, compression=None)
    await terminal.send(json.dumps({"path": "order", "content": {}}).encode())
    urls = []
    for i in range(20):
        urls.append("data:image/png;base64," + base64.b64encode(broken_png(20000, i)).decode())
        path = f"{work}/broken-{i}.png"
        with open(path, "wb") as f:
            f.write(broken_png(20000, 100 + i))
        urls.append("file://" + path)
    await asyncio.sleep(2)
    start = os.path.getsize(f"{work}/log")
    await send_from("127.0.0.2", catalogue(urls))  # then that host leaves
    print(f"40 undecodable pictures (20 data: URLs of 27 KB, 20 local files), log at {start} bytes", flush=True)
    last = start
    cpu(pid)
    for minute in range(1, minutes + 1):
        await asyncio.sleep(60)
        now = os.path.getsize(f"{work}/log")
        print(f"minute {minute}: {now - last} bytes of log, CPU {cpu(pid):.1f} % of a core this minute", flush=True)
        last = now
    await terminal.send(catalogue([]))
    await asyncio.sleep(2)
    last = os.path.getsize(f"{work}/log")
    await asyncio.sleep(60)
    now = os.path.getsize(f"{work}/log")
    print(f"the minute after a catalogue without them: {now - last} bytes of log", flush=True)
    await terminal.close()


_cpu = {}


def cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])
    now = time.monotonic()
    before = _cpu.get(pid, (ticks, now))
    _cpu[pid] = (ticks, now)
    return 0.0 if now == before[1] else 100 * (ticks - before[0]) / os.sysconf("SC_CLK_TCK") / (now - before[1])


def count(path, text):
    with open(path, "rb") as f:
        return f.read().count(text)


async def attack_churn(work, pid, total):
    root = f"{work}/www"
    os.makedirs(root)
    with open(f"{root}/p.png", "wb") as f:
        f.write(good_png(64, 40))  # the disk cache (20 MB) holds several rounds of them
    terminal = await websockets.connect(f"ws://127.0.0.1:{PORT}", max_size=None, compression=None)
    await terminal.send(json.dumps({"path": "order", "content": {}}).encode())
    await asyncio.sleep(5)
    rss0, fd0 = status(pid, "VmRSS"), fds(pid)
    print(f"start: RSS {rss0 / 1024:.1f} MB, {fd0} open files", flush=True)
    batch, done, started = 200, 0, time.monotonic()
    log = f"{work}/log"
    while done < total:
        n = min(batch, total - done)
        pad = "x" * 8000
        urls = [f"http://127.0.0.1:{HTTP_PORT}/p.png?n={done + i}&{pad}" for i in range(n)]
        server = subprocess.Popen([sys.executable, "-m", "http.server", str(HTTP_PORT), "--bind", "127.0.0.1",
                                   "--directory", root], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        time.sleep(0.5)
        await terminal.send(catalogue(urls, done))
        served = 0
        deadline = time.monotonic() + 120
        while served < n and time.monotonic() < deadline:
            line = await asyncio.get_running_loop().run_in_executor(None, server.stderr.readline)
            if " 200 " in line:
                served += 1
        server.terminate()
        server.wait()
        await terminal.send(catalogue([]))
        await asyncio.sleep(0.2)
        before = count(log, b"shown from the disk cache")
        await terminal.send(catalogue(urls, done))  # the server is gone: from the disk cache
        # Until they have all been served from the cache, or nothing more comes for 2 s.
        seen, quiet = before, time.monotonic()
        while seen < before + n and time.monotonic() - quiet < 2:
            await asyncio.sleep(0.2)
            if count(log, b"shown from the disk cache") > seen:
                seen, quiet = count(log, b"shown from the disk cache"), time.monotonic()
        await terminal.send(catalogue([]))
        done += n
        print(f"{done} URLs in {time.monotonic() - started:.0f} s ({served} fetched): RSS "
              f"{status(pid, 'VmRSS') / 1024:.1f} MB, {fds(pid)} open files, "
              f"{count(log, b'shown from the disk cache') - before} from the disk cache", flush=True)
    rss1, fd1 = status(pid, "VmRSS"), fds(pid)
    await asyncio.sleep(60)
    rss2, fd2 = status(pid, "VmRSS"), fds(pid)
    print(f"after the last drop: RSS {rss1 / 1024:.1f} MB, {fd1} open files; 60 s later: RSS "
          f"{rss2 / 1024:.1f} MB ({(rss2 - rss0) / 1024:+.1f} MB from the start), {fd2} open files", flush=True)
    await terminal.close()


def main():
    app, mode = os.path.abspath(sys.argv[1]), sys.argv[2]
    amount = int(sys.argv[3]) if len(sys.argv) > 3 else (3 if mode == "log" else 10400)
    display = int(sys.argv[4]) if len(sys.argv) > 4 else 61
    with tempfile.TemporaryDirectory() as work:
        xvfb, proc = start_display(app, display, work)
        try:
            attack = attack_log(work, proc.pid, amount) if mode == "log" else attack_churn(work, proc.pid, amount)
            asyncio.run(attack)
            if proc.poll() is not None:
                print(f"the display exited ({proc.returncode})")
        finally:
            proc.send_signal(signal.SIGTERM)
            proc.wait(10)
            xvfb.terminate()
            xvfb.wait()
        if os.environ.get("KEEP_LOG"):
            subprocess.run(["cp", f"{work}/log", os.environ["KEEP_LOG"]])


if __name__ == "__main__":
    main()
