#!/usr/bin/python3
"""Sends COUNT binary messages as fast as it can to ws://127.0.0.1:PORT.

The messages are TEMPLATE with every occurrence of the token 987654321
replaced by the message's number (1..COUNT), all built before connecting.
After the last one it keeps the connection open until its stdin closes.
Uses Debian's python3-websockets; call it with /usr/bin/python3.
"""
import asyncio
import sys

import websockets

TOKEN = b"987654321"


async def main(port, template_path, count):
    with open(template_path, "rb") as f:
        template = f.read()
    messages = [template.replace(TOKEN, str(i).encode()) for i in range(1, count + 1)]
    async with websockets.connect(
        f"ws://127.0.0.1:{port}", max_size=None, compression=None, ping_interval=None
    ) as ws:
        for message in messages:
            await ws.send(message)
        print("sent", count, flush=True)
        await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)


if __name__ == "__main__":
    asyncio.run(main(int(sys.argv[1]), sys.argv[2], int(sys.argv[3])))
