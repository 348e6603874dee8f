#!/usr/bin/env python3
"""A TCP relay that holds every chunk for a fixed time in each direction.

    delay_proxy.py LISTEN_HOST LISTEN_PORT TARGET_HOST TARGET_PORT DELAY_MS

For kernels without the netem queueing discipline: the scale-out benchmark
puts it in front of the database server so that every round trip costs
twice the delay, as a link with that delay each way would. Chunks leave in
the order they came, each DELAY_MS after it was read; the relay adds its own
small cost, which the benchmark counts as the machine's rest.
"""
import asyncio
import sys


async def pump(reader, writer, delay):
    loop = asyncio.get_running_loop()
    pending = asyncio.Queue()

    async def sender():
        while True:
            due, data = await pending.get()
            if data is None:
                break
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        writer.close()

    task = asyncio.create_task(sender())
    try:
        while data := await reader.read(65536):
            pending.put_nowait((loop.time() + delay, data))
    except ConnectionError:
        pass
    pending.put_nowait((loop.time() + delay, None))
    try:
        await task
    except ConnectionError:
        pass


async def main():
    host, port, target_host, target_port, delay_ms = sys.argv[1:6]
    delay = float(delay_ms) / 1000

    async def relay(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection(target_host, int(target_port))
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay), pump(server_reader, client_writer, delay))

    server = await asyncio.start_server(relay, host, int(port))
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
