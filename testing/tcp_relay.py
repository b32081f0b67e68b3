#!/usr/bin/python3
"""A TCP relay for tests: each LISTEN:TARGET pair listens on 127.0.0.1:LISTEN and passes every
connection on, byte for byte and both ways, to 127.0.0.1:TARGET, connecting from the address
given by --source.

Dovecot counts a connection whose two ends have the same address as secure, and allows it a
plain-text login whatever disable_plaintext_auth says. A client on loopback has 127.0.0.1 at
both ends; through this relay Dovecot sees it come from 127.0.0.2, and treats it as any client
on the network. SIGTERM and SIGINT stop the relay.

Run with Debian's interpreter: /usr/bin/python3 tcp_relay.py --source 127.0.0.2 L:T [L:T ...]
"""

import argparse
import asyncio
import signal

HOST = "127.0.0.1"


async def relay(client_reader, client_writer, target, source):
    try:
        server_reader, server_writer = await asyncio.open_connection(
            HOST, target, local_addr=(source, 0))
    except OSError as error:
        print(f"cannot reach {HOST}:{target} from {source}: {error}", flush=True)
        client_writer.transport.abort()
        return
    writers = (client_writer, server_writer)

    async def pipe(reader, writer):
        try:
            while data := await reader.read(65536):
                writer.write(data)
                await writer.drain()
            writer.write_eof()  # a half close goes on as one
        except OSError:
            for w in writers:
                w.transport.abort()

    await asyncio.gather(pipe(client_reader, server_writer), pipe(server_reader, client_writer))
    for w in writers:
        w.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("pairs", nargs="+", metavar="LISTEN:TARGET")
    args = parser.parse_args()

    loop = asyncio.get_running_loop()
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stop.done() or stop.set_result(None))
    servers = []
    for pair in args.pairs:
        listen, target = (int(p) for p in pair.split(":"))
        servers.append(await asyncio.start_server(
            lambda r, w, t=target: relay(r, w, t, args.source), HOST, listen))
    await stop
    for server in servers:
        server.close()


if __name__ == "__main__":
    asyncio.run(main())
