/*
 * What the examples share: a failed call named with its code's name and
 * text (kalvo/kalvo_errors.h).
 */
#ifndef KALVO_EXAMPLE_REPORT_H
#define KALVO_EXAMPLE_REPORT_H

#include <kalvo/kalvo.h>
#include <kalvo/kalvo_errors.h>
#include <stdio.h>

/* The call's code; a failure is named on stderr. */
static inline int32_t check(const char* call, int32_t ret) {
    if (ret != KALVO_OK)
        fprintf(stderr, "%s: %s (%d): %s\n", call, kalvo_api_error_name(ret), ret,
                kalvo_api_error_text(ret));
    return ret;
}

#endif
