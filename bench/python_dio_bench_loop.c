/* The C side of the Python DIO benchmark: KV_DIO_OutData called in a plain C
 * loop through the address the Python package bound, so that both sides
 * drive the same loaded library, unit and line in one process. Loaded by the
 * benchmark with ctypes; it links nothing of the stack itself. */
#include <stdint.h>

typedef int32_t (*OutDataCall)(int32_t unit, int32_t data);

__attribute__((visibility("default"))) int32_t kalvo_bench_out_data(OutDataCall outData,
                                                                    int32_t unit, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        int32_t ret = outData(unit, i & 0xFFFF);
        if (ret != 0) return ret;
    }
    return 0;
}
