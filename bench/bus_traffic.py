#!/usr/bin/env python3
"""Bus traffic into a pseudo-terminal, for the processor benchmarks (peer_cpu.sh).

Creates a pty pair (the monitor side in raw mode, PATH a symbolic link to it)
and writes a central's stream into it every 10 ms at RATE bytes per second:
call bytes of the 31 addresses, after some of them a 4-byte accessory or a
5-byte locomotive message with its check byte, and once a second the central's
7-byte status and 3-byte power message.  Writes end on item boundaries.
RATE 0 writes nothing: a silent line.

  bus_traffic.py --link PATH --rate RATE --seconds S [--ready FILE] [--go FILE]
                 [--backlog FILE]

--ready is created once the link exists; streaming waits for --go to exist.
--backlog is rewritten every second with the largest and the present number
of bytes written but not yet read by the monitor: a monitor that keeps up
leaves about one write's worth.  After S seconds the pty stays open (no
hang-up for the monitor) until SIGTERM.
"""
import argparse, array, fcntl, os, random, signal, sys, termios, time, tty

CALLS = [b for b in range(256)
         if 1 <= (b & 0x1F) <= 31 and not b & 0x20 and bin(b).count("1") % 2 == 0]


def checked(frame):
    check = frame[0]
    for b in frame[2:]:
        check ^= b
    frame[1] = check
    return bytes(frame)


def items(rnd):
    while True:
        yield bytes([rnd.choice(CALLS)])
        if rnd.random() < 0.15:
            if rnd.random() < 0.4:
                yield checked(bytearray([rnd.choice((0x61, 0x62)), 0] +
                                        [rnd.randrange(256) for _ in range(3)]))
            else:
                yield checked(bytearray([rnd.choice((0x4A, 0x4B)), 0] +
                                        [rnd.randrange(256) for _ in range(2)]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--link", required=True)
    ap.add_argument("--rate", type=float, required=True)
    ap.add_argument("--seconds", type=float, required=True)
    ap.add_argument("--ready")
    ap.add_argument("--go")
    ap.add_argument("--backlog")
    a = ap.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    master, slave = os.openpty()
    tty.setraw(slave)
    try:
        os.unlink(a.link)
    except FileNotFoundError:
        pass
    os.symlink(os.ttyname(slave), a.link)
    if a.ready:
        open(a.ready, "w").close()
    while a.go and not os.path.exists(a.go):
        time.sleep(0.05)
    status = checked(bytearray([0x00, 0, 0x8C, 0x2D, 0x00, 0x13, 0x04])) + bytes([0, 0x80, 0x80])
    source = items(random.Random(1))
    pending = next(source)
    start = time.monotonic()
    sent, next_status = 0, start
    worst, next_sample = 0, start

    def unread():
        count = array.array("i", [0])
        fcntl.ioctl(slave, termios.FIONREAD, count, True)
        return count[0]

    try:
        while a.rate > 0:
            now = time.monotonic()
            if now - start >= a.seconds:
                break
            chunk = b""
            if now >= next_status:
                chunk, next_status = status, next_status + 1
            due = a.rate * (now - start) - sent
            while len(chunk) + len(pending) <= due:
                chunk += pending
                pending = next(source)
            if chunk:
                os.write(master, chunk)
                sent += len(chunk)
            if a.backlog and now >= next_sample:
                backlog = unread()
                worst, next_sample = max(worst, backlog), next_sample + 1
                with open(a.backlog, "w") as f:
                    f.write("%d %d\n" % (worst, backlog))
            time.sleep(max(0.0, 0.01 - (time.monotonic() - now)))
        print("bus_traffic: %d bytes in %.1f s" % (sent, time.monotonic() - start), file=sys.stderr)
        while True:
            time.sleep(3600)
    except SystemExit:
        pass
    finally:
        if os.path.islink(a.link) and os.readlink(a.link) == os.ttyname(slave):
            os.unlink(a.link)


if __name__ == "__main__":
    main()
