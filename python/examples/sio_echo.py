"""SIO: a line of text sent through SIO_1 channel 1 and read back (the simulated unit loops it back)."""

from __future__ import annotations

import sys

import kalvo
from example_network import configuration_folder

MESSAGE = b"Hello from Python over the Kalvo line\r\n"


def main() -> int:
    with configuration_folder(__doc__ or "") as folder, kalvo.Sio(1) as sio, kalvo.timer_period():
        sio.configure(receive_size=8192)
        sent = sio.send(MESSAGE, timeout=5)
        try:
            echo = sio.receive(len(MESSAGE), timeout=5)
        except kalvo.KalvoTimeoutError as error:
            print(f"SIO_1 in {folder}: sent {sent} bytes, {len(error.received or b'')} came back: {error}")
            return 1
        print(f"SIO_1 in {folder}: sent {sent} bytes, received {echo!r}")
        return 0 if echo == MESSAGE else 1


if __name__ == "__main__":
    sys.exit(main())
