"""DIO: a bit walked through DIO_1's output word, and the input word read back.

On the simulated network the unit's inputs follow its outputs, so each word
written comes back as the input word a line cycle or two later.
"""

from __future__ import annotations

import sys
import time

import kalvo
from example_network import configuration_folder


def main() -> int:
    with configuration_folder(__doc__ or "") as folder, kalvo.Dio(1) as dio:
        print(f"DIO_1 in {folder}: station answers: {dio.condition}")
        for bit in range(16):
            dio.set_bit(bit, True)
            if bit:
                dio.set_bit(bit - 1, False)
            time.sleep(0.005)  # a few line cycles: the unit's inputs follow
            print(f"output {dio.read_output():016b}  input {dio.read():016b}")
        dio.write(0)
        return 0 if dio.read_output() == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
