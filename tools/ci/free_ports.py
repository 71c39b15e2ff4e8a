#!/usr/bin/env python3
"""Prints the first port of a block of free loopback ports (TCP and UDP), chosen at random
between 20000 and 60000: free_ports.py [count, default 400]."""
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


count = int(sys.argv[1]) if len(sys.argv) > 1 else 400
for _ in range(200):
    base = random.randrange(20000, 60000 - count, 10)
    if all(free(p) for p in range(base, base + count)):
        print(base)
        sys.exit(0)
sys.exit("no block of free loopback ports")
