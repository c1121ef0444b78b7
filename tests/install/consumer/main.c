#include <kalvo/board_library.h>
#include <kalvo/kalvo.h>
#include <kalvo/kalvo_errors.h>
#include <stdio.h>

int main(void) {
    printf("%s %d\n", kalvo_api_error_name(KV_CheckBoard(9)), (int)KV_maxline());
    return 0;
}
