/**
 * @file kalvo/kalvo_errors.h
 * @brief Names and short texts of the return codes of both libraries.
 *
 * For the application API (kalvo/kalvo.h) and the master-board library
 * (kalvo/board_library.h). Header only: the functions are static inline,
 * nothing is exported or linked. Usable from C and C++.
 *
 * @code
 * int ret = KV_DIO_Open(1);
 * if (ret) fprintf(stderr, "DIO_1: %s (%d): %s\n", kalvo_api_error_name(ret), ret,
 *                  kalvo_api_error_text(ret));
 * @endcode
 */
#ifndef KALVO_KALVO_ERRORS_H
#define KALVO_KALVO_ERRORS_H

#include <stdint.h>

/**
 * The name of an application API return code ("KALVO_ERR_UNIT").
 *
 * @param code A code of kalvo/kalvo.h.
 * @return The name of its enumerator, or NULL for a value that is none of them.
 * @threads Any thread: a constant text.
 * @sa kalvo_api_error_text, kalvo_board_error_name
 */
static inline const char* kalvo_api_error_name(int32_t code) {
    switch (code) {
        case 0:
            return "KALVO_OK";
        case 1:
            return "KALVO_ERR_ALREADY_OPEN";
        case 2:
            return "KALVO_ERR_NOT_OPEN";
        case 3:
            return "KALVO_ERR_ARGUMENT";
        case 4:
            return "KALVO_ERR_STARTUP";
        case 5:
            return "KALVO_ERR_THREAD";
        case 6:
            return "KALVO_ERR_SEMAPHORE";
        case 7:
            return "KALVO_ERR_MAP";
        case 9:
            return "KALVO_ERR_UNIT";
        case 10:
            return "KALVO_ERR_NOT_LOADED";
        case 0x10:
            return "KALVO_ERR_UNIT_ERROR";
        case 0x11:
            return "KALVO_ERR_TIMEOUT";
        case 0x20:
            return "KALVO_ERR_PAIR";
        case 0x21:
            return "KALVO_ERR_STATUS_DATA";
        case 0x22:
            return "KALVO_ERR_STATUS_WORD";
        case 0x30:
            return "KALVO_ERR_BUFFER";
        case 0x100:
            return "KALVO_ERR_NO_LIBRARY";
        default:
            return 0;
    }
}

/**
 * What an application API return code means, and what to look at.
 *
 * @param code A code of kalvo/kalvo.h.
 * @return A short text; "not a return code of the Kalvo library" for other values, never NULL.
 * @threads Any thread: a constant text.
 * @sa kalvo_api_error_name
 */
static inline const char* kalvo_api_error_text(int32_t code) {
    switch (code) {
        case 0:
            return "done";
        case 1:
            return "the unit is already open in this process";
        case 2:
            return "the unit is not open, or its board is not opened";
        case 3:
            return "a channel, bit, job, board, line or pointer is out of range";
        case 4:
            return "start-up failed: the unit's board did not open (is the device host running? "
                   "try kalvo doctor)";
        case 5:
            return "a receive thread could not be created";
        case 6:
            return "a named semaphore could not be created";
        case 7:
            return "the axis pair map could not be created";
        case 9:
            return "the unit number is outside 1-1024, or its section of Kalvo.ini is missing or "
                   "places it where it cannot be (kalvo doctor names the key)";
        case 10:
            return "the board library is not loaded (see the Kind of the board's section)";
        case 0x10:
            return "the unit reported a receive or send error";
        case 0x11:
            return "the unit did not answer in time";
        case 0x20:
            return "the answer belongs to another command, or a block was not acknowledged";
        case 0x21:
            return "the status matched, the data words did not";
        case 0x22:
            return "the data words matched, the status word did not";
        case 0x30:
            return "a buffer could not be created";
        case 0x100:
            return "the board library is not loaded (see the Kind of the board's section)";
        default:
            return "not a return code of the Kalvo library";
    }
}

/**
 * The name of a board library return code ("KV_ERR_NO_DEVICE").
 *
 * @param code A code of kalvo/board_library.h.
 * @return The name of its enumerator, or NULL for a value that is none of them.
 * @threads Any thread: a constant text.
 * @sa kalvo_board_error_text, kalvo_api_error_name
 */
static inline const char* kalvo_board_error_name(int32_t code) {
    switch (code) {
        case 0:
            return "KV_OK";
        case 1:
            return "KV_ERR_ALREADY_OPEN";
        case 2:
            return "KV_ERR_NOT_OPEN";
        case 3:
            return "KV_ERR_ARGUMENT";
        case 4:
            return "KV_ERR_NO_DEVICE";
        case 5:
            return "KV_ERR_MAIL_THREAD";
        case 6:
            return "KV_ERR_SEMAPHORE";
        case 9:
            return "KV_ERR_MAIL_EVENT";
        case 15:
            return "KV_ERR_START";
        case 16:
            return "KV_ERR_NOT_MAPPED";
        case 18:
            return "KV_ERR_MAIL_OPEN";
        case 19:
            return "KV_ERR_MAIL_NOT_OPEN";
        case 20:
            return "KV_ERR_MAIL_LENGTH";
        case 21:
            return "KV_ERR_MAIL_BUSY";
        case 22:
            return "KV_ERR_MAIL_EMPTY";
        case 23:
            return "KV_MAIL_SEND_RESULT";
        case 24:
            return "KV_MAIL_RECEIVED";
        case 25:
            return "KV_MAIL_CLOSED";
        case -1:
            return "KV_ERR_REQUEST";
        default:
            return 0;
    }
}

/**
 * What a board library return code means.
 *
 * @param code A code of kalvo/board_library.h.
 * @return A short text; "not a return code of the board library" for other values, never
 * NULL.
 * @threads Any thread: a constant text.
 * @sa kalvo_board_error_name
 */
static inline const char* kalvo_board_error_text(int32_t code) {
    switch (code) {
        case 0:
            return "done";
        case 1:
            return "the board is already open in this process";
        case 2:
            return "the board is not open in this process";
        case 3:
            return "a board, line, station, offset or pointer is out of range";
        case 4:
            return "no board device could be opened (is the device host running, and does it "
                   "serve this board?)";
        case 5:
            return "the mail thread could not be started";
        case 6:
            return "a named semaphore could not be created";
        case 9:
            return "a mail event could not be created";
        case 15:
            return "the device refused to start the line";
        case 16:
            return "the board window is not mapped";
        case 18:
            return "mail is already open, in this process or another";
        case 19:
            return "mail is not open";
        case 20:
            return "the mail length is outside 1 to 256";
        case 21:
            return "the previous mail send is still in progress";
        case 22:
            return "no received mail is waiting";
        case 23:
            return "a mail send completed";
        case 24:
            return "a mail arrived";
        case 25:
            return "the board line is closing";
        case -1:
            return "a device request or a name lookup failed, or the board is lost: its device "
                   "host died, was stopped or restarted (see the board library's log)";
        default:
            return "not a return code of the board library";
    }
}

#endif /* KALVO_KALVO_ERRORS_H */
