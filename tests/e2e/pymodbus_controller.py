#!/usr/bin/python3
"""A Torvix-like controller made of pymodbus, an independent Modbus RTU stack.

Serves the status block (input registers 300..363) and the holding registers 400..402 on a
serial device, or with --tcp as a serial device server does: RTU frames in a TCP connection. After every request it rewrites a JSON state file: the holding registers, the
writes received in order, and how many frames the stack had to reject (a CRC or framing fault
of the master would show up there, not in our own simulator that shares our code).
"""
import argparse
import asyncio
import json
import logging
import os
import pty
import signal
import sys
import tty

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.server import StartAsyncSerialServer, StartAsyncTcpServer


class State:
    def __init__(self, path):
        self.path = path
        self.writes = []
        self.reads = 0
        self.rejected = 0
        self.holding = None

    def dump(self):
        data = {
            "reads": self.reads,
            "writes": self.writes,
            "rejected_frames": self.rejected,
            "holding": self.holding.getValues(400, 3) if self.holding else [],
        }
        tmp = self.path + ".tmp"
        with open(tmp, "w") as f:
            json.dump(data, f)
        os.replace(tmp, self.path)


class RecordingBlock(ModbusSequentialDataBlock):
    def __init__(self, state, address, values, writable):
        super().__init__(address, values)
        self.state = state
        self.writable = writable

    def getValues(self, address, count=1):
        if not self.writable:
            self.state.reads += 1
            self.state.dump()
        return super().getValues(address, count)

    def setValues(self, address, values):
        super().setValues(address, values)
        if self.writable:
            if not isinstance(values, list):
                values = [values]
            self.state.writes.append([address, list(values)])
            self.state.dump()


class RejectCounter(logging.Handler):
    """pymodbus reports dropped frames only through its log."""

    def __init__(self, state):
        super().__init__(logging.DEBUG)
        self.state = state

    def emit(self, record):
        text = record.getMessage().lower()
        if any(w in text for w in ("crc", "frame check failed", "unable to decode",
                                   "invalid", "error")):
            self.state.rejected += 1
            self.state.dump()


async def serve_tcp(context, host, port):
    loop = asyncio.get_running_loop()
    server = await StartAsyncTcpServer(
        context=context, framer=ModbusRtuFramer, address=(host, port), defer_start=True,
        allow_reuse_address=True, ignore_missing_slaves=True)
    task = asyncio.create_task(server.serve_forever())
    await server.serving
    bound = server.server.sockets[0].getsockname()
    shown = f"[{bound[0]}]" if ":" in bound[0] else bound[0]
    print(f"ready tcp://{shown}:{bound[1]}", flush=True)
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set_result, None)
    await stop
    await server.server_close()
    task.cancel()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--link",
                        help="symlink to create for the master's end of the line")
    parser.add_argument("--tcp", metavar="HOST:PORT",
                        help="serve RTU frames over TCP instead (port 0: any free one); "
                             "prints 'ready tcp://HOST:PORT'")
    parser.add_argument("--address", type=int, default=7)
    parser.add_argument("--state", required=True, help="JSON state file, rewritten")
    parser.add_argument("--registers", required=True,
                        help="64 comma-separated values of input registers 300..363")
    args = parser.parse_args()

    status_block = [int(v, 0) for v in args.registers.split(",")]
    if len(status_block) != 64:
        sys.exit("need exactly 64 register values")

    state = State(args.state)
    inputs = RecordingBlock(state, 300, status_block, writable=False)
    state.holding = RecordingBlock(state, 400, [0, 0, 0], writable=True)
    # zero_mode: register 300 on the wire is address 300 here, with no off-by-one shift.
    slave = ModbusSlaveContext(ir=inputs, hr=state.holding, zero_mode=True)
    context = ModbusServerContext(slaves={args.address: slave}, single=False)

    logger = logging.getLogger("pymodbus")
    logger.setLevel(logging.DEBUG)
    logger.addHandler(RejectCounter(state))
    state.dump()

    if args.tcp:
        host, _, port = args.tcp.rpartition(":")
        asyncio.run(serve_tcp(context, host.strip("[]"), int(port)))
        return
    if not args.link:
        sys.exit("need --link or --tcp")

    # Two pseudo-terminals joined by a byte relay: pymodbus opens one by its path, the program
    # under test the other through --link. Linux ptys carry no parity (the kernel clears
    # PARENB and pyserial then refuses), so the peer opens its end without; bytes pass as sent.
    ours_master, ours_slave = pty.openpty()
    peer_master, peer_slave = pty.openpty()
    for fd in (ours_slave, peer_slave):
        tty.setraw(fd)
    peer_path = os.ttyname(peer_slave)
    if os.path.lexists(args.link):
        os.unlink(args.link)
    os.symlink(os.ttyname(ours_slave), args.link)

    def relay(src, dst):
        try:
            data = os.read(src, 4096)
        except OSError:
            return
        if data:
            os.write(dst, data)

    async def run():
        loop = asyncio.get_running_loop()
        loop.add_reader(ours_master, relay, ours_master, peer_master)
        loop.add_reader(peer_master, relay, peer_master, ours_master)
        server = await StartAsyncSerialServer(
            context=context, framer=ModbusRtuFramer, port=peer_path, baudrate=115200,
            parity="N", bytesize=8, stopbits=1, timeout=0.005, defer_start=True,
            ignore_missing_slaves=True)
        stop = loop.create_future()
        for sig in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(sig, stop.set_result, None)
        task = asyncio.create_task(server.start())
        print("ready", flush=True)
        await stop
        await server.shutdown() if hasattr(server, "shutdown") else server.server_close()
        task.cancel()

    try:
        asyncio.run(run())
    finally:
        os.unlink(args.link)


if __name__ == "__main__":
    main()
