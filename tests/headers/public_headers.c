/* The public headers as a C program sees them: both compile as C11 under the
 * project's warnings, and their records have the sizes the libraries use. */
#include <kalvo/board_library.h>
#include <kalvo/kalvo.h>
#include <kalvo/kalvo_errors.h>

_Static_assert(sizeof(KV_CONNECT_RECORD) == 12, "connect record");
_Static_assert(sizeof(KV_STATUS_RECORD) == 12, "status record");
_Static_assert(sizeof(KV_NAME_RECORD) == 20, "name record");
_Static_assert(sizeof(UnitPlacement) == 88, "unit placement");

/* Taking the calls' addresses checks their declarations without linking. */
int32_t (*const kalvo_c_board_open)(int32_t) = KV_open;
int32_t (*const kalvo_c_set_mem_short)(int32_t, int32_t, const uint16_t*, int32_t, int32_t,
                                       int32_t) = KV_SetMemShort;
int32_t (*const kalvo_c_dio_out)(int32_t, int32_t) = KV_DIO_OutData;

/* The error texts are static inline: usable from C without an export. */
const char* kalvo_c_error_name(int32_t code) {
    return kalvo_api_error_name(code) ? kalvo_api_error_name(code) : kalvo_board_error_name(code);
}
