#!/usr/bin/python3
"""Toggles the payment dialogs: sends RATE "payment" messages a second for
SECONDS to ws://127.0.0.1:PORT, cycling QR request, finish, card request,
finish, then keeps the connection open until its stdin closes.
Uses Debian's python3-websockets; call it with /usr/bin/python3.
"""
import asyncio
import json
import sys
import time

import websockets


def payment(content):
    return json.dumps({"path": "payment", "content": content}).encode()


CYCLE = [
    payment({"amount": 45000, "qrcode_table": "https://qr.nspk.ru/AS1A0001?type=02&sum=45000"}),
    payment({"is_finished": True}),
    payment({"amount": 45000}),
    payment({"is_finished": True}),
]


async def main(port, rate, seconds):
    async with websockets.connect(
        f"ws://127.0.0.1:{port}", max_size=None, compression=None
    ) as ws:
        start = time.monotonic()
        sent = 0
        while rate > 0 and time.monotonic() - start < seconds:
            await ws.send(CYCLE[sent % len(CYCLE)])
            sent += 1
            await asyncio.sleep(max(0.0, start + sent / rate - time.monotonic()))
        print("sent", sent, flush=True)
        await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)


if __name__ == "__main__":
    asyncio.run(main(int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])))
