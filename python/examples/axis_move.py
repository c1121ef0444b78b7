"""AXSA: job 1 of AXSA_1 set to a speed, moved to a target, its position read while it travels."""

from __future__ import annotations

import sys
import time

import kalvo
from example_network import configuration_folder

SPEED, MOVE, POSITION = "V", "T", "P"
TARGET = 25000


def motion(status: int) -> str:
    return "refused" if status & 0x10 else "in position" if status & 0x01 else "moving"


def main() -> int:
    with configuration_folder(__doc__ or "") as folder, kalvo.Axsa(1) as axis, kalvo.timer_period():
        print(f"AXSA_1 in {folder}: {axis.jobs} jobs; job 1 at {axis.command(1, POSITION).data}")
        axis.command(1, SPEED, 0, 500)
        answer = axis.command(1, MOVE, 0, TARGET)
        print(f"move to {TARGET}: answered target {answer.data}, {motion(answer.status)}")
        deadline = time.monotonic() + 10
        position = axis.command(1, POSITION)
        while position.data != TARGET and time.monotonic() < deadline:
            time.sleep(0.02)
            position = axis.command(1, POSITION)
            print(f"  position {position.data:6d}  {motion(position.status)}")
        print(f"{'arrived' if position.data == TARGET else 'did not arrive'}: {position.data}")
        return 0 if position.data == TARGET else 1


if __name__ == "__main__":
    sys.exit(main())
