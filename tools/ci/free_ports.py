#!/usr/bin/env python3
"""Prints the first port of a block of free loopback ports (TCP and UDP), chosen at random
below the kernel's range of ephemeral ports: free_ports.py [count, default 400].

A block inside that range is free when it is chosen but not when it is used: any connection made
meanwhile (by this machine's other programs, or the test's own clients) may be given one of its
ports as its local port, and the server that then binds it fails."""
import random
import socket
import sys


def free(port):
    for kind in (socket.SOCK_STREAM, socket.SOCK_DGRAM):
        s = socket.socket(socket.AF_INET, kind)
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return False
        finally:
            s.close()
    return True


def ephemeral_start():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768


count = int(sys.argv[1]) if len(sys.argv) > 1 else 400
low, high = 10000, min(ephemeral_start(), 60000)
if high - low < count + 10:
    sys.exit("no room for %d ports below the ephemeral range (%d)" % (count, high))
for _ in range(200):
    base = random.randrange(low, high - count, 10)
    if all(free(p) for p in range(base, base + count)):
        print(base)
        sys.exit(0)
sys.exit("no block of free loopback ports")
