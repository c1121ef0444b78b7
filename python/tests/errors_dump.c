/* Prints what kalvo/kalvo_errors.h says of every code from -2 to 0x200, one
 * line per code the header names: "api|board CODE NAME\tTEXT". The Python
 * package's generated tables are checked against it. */
#include <stdio.h>

#include "kalvo/kalvo_errors.h"

int main(void) {
    for (int32_t code = -2; code <= 0x200; ++code) {
        if (kalvo_api_error_name(code))
            printf("api %d %s\t%s\n", code, kalvo_api_error_name(code), kalvo_api_error_text(code));
        if (kalvo_board_error_name(code))
            printf("board %d %s\t%s\n", code, kalvo_board_error_name(code),
                   kalvo_board_error_text(code));
    }
    printf("api-default %s\nboard-default %s\n", kalvo_api_error_text(0x7fff),
           kalvo_board_error_text(0x7fff));
    return 0;
}
