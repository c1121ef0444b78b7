"""ADA: a ramp written to ADA_1 channel 1 and the channel's input read back, with the unit's version and ranges."""

from __future__ import annotations

import sys
import time

import kalvo
from example_network import configuration_folder


def main() -> int:
    with configuration_folder(__doc__ or "") as folder, kalvo.Ada(1) as ada, kalvo.timer_period():
        print(f"ADA_1 in {folder}: {ada.channels} channels, version {ada.version():04X}h, "
              f"input range {ada.input_range(1):#x}, output range {ada.output_range(1):#x}")
        seen = []
        for value in range(0, 4096, 512):
            ada.write(1, value)
            time.sleep(0.005)
            seen.append(ada.value(1))
            print(f"wrote {value:4d}  output {ada.output(1):4d}  input {seen[-1]:4d}")
        ada.write(1, 0)
        return 0 if ada.output(1) == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
