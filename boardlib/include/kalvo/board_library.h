/*
 * The master-board library: the 48 KV_ calls that every build exports
 * (Pcimaster64, Dualmaster, Cardmaster). Board numbers are the library's
 * instance numbers (0 to 3; 0 to 1 in Cardmaster), line numbers 0 to
 * KV_maxline() - 1. Every call but the four identity calls returns 0 on
 * success or a code from the table below, and writes one line to the
 * library's diagnostic log as it returns.
 *
 * Usable from C and C++. Link with the build you drive (-lPcimaster64 ...)
 * or load it by name and bind the calls with dlsym / GetProcAddress.
 */
#ifndef KALVO_BOARD_LIBRARY_H
#define KALVO_BOARD_LIBRARY_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KV_BOARD_API __attribute__((visibility("default")))
#else
#define KV_BOARD_API
#endif

/* Return codes. */
enum {
    KV_OK = 0,
    KV_ERR_ALREADY_OPEN = 1,   /* KV_open: the board is already open here */
    KV_ERR_NOT_OPEN = 2,       /* the board is not open in this process */
    KV_ERR_ARGUMENT = 3,       /* board, line, station, offset or pointer out of range */
    KV_ERR_NO_DEVICE = 4,      /* no device instance could be chosen or opened */
    KV_ERR_MAIL_THREAD = 5,    /* the mail thread could not be started */
    KV_ERR_SEMAPHORE = 6,      /* a named semaphore could not be created */
    KV_ERR_MAIL_EVENT = 9,     /* a mail event could not be created */
    KV_ERR_START = 15,         /* the start request to the device failed */
    KV_ERR_NOT_MAPPED = 16,    /* the board window is not mapped */
    KV_ERR_MAIL_OPEN = 18,     /* mail is already open, in this process or another */
    KV_ERR_MAIL_NOT_OPEN = 19, /* mail is not open */
    KV_ERR_MAIL_LENGTH = 20,   /* mail length outside 1 to 256 */
    KV_ERR_MAIL_BUSY = 21,     /* the previous mail send is still in progress */
    KV_ERR_MAIL_EMPTY = 22,    /* no received mail is waiting */
    KV_MAIL_SEND_RESULT = 23,  /* KV_MailWaitObject: a send completed */
    KV_MAIL_RECEIVED = 24,     /* KV_MailWaitObject: a mail arrived */
    KV_MAIL_CLOSED = 25,       /* KV_MailWaitObject: the board line is closing */
    /* A device request or a name lookup failed; and every call that reaches
     * a board whose device host went away (died, was stopped or restarted):
     * window, registers, mail (a KV_MailWaitObject ends with it within
     * 100 ms), line control and requests. The board stays lost until it is
     * closed and opened again, which meets the new host; pointers into its
     * window then fault. */
    KV_ERR_REQUEST = -1
};

/* 12 bytes: the station address as decimal text and the station count. */
typedef struct KV_CONNECT_RECORD {
    char station[8];
    int32_t count;
} KV_CONNECT_RECORD;

/* 12 bytes, filled by KV_Status: line state, own station address (low 6
 * bits), station count. */
typedef struct KV_STATUS_RECORD {
    int32_t lineState;
    int32_t station;
    int32_t count;
} KV_STATUS_RECORD;

/* 20 bytes: a station name in, the station address found out (-1 unknown). */
typedef struct KV_NAME_RECORD {
    char name[12];
    int32_t station;
    int32_t reserved;
} KV_NAME_RECORD;

/* ---- identity (no board needed, no log line) ---------------------------- */
/* Copy the board's name, the library's file name or "1.3.0.0" with its NUL;
 * 32 bytes are always enough. */
KV_BOARD_API void KV_boardname(char* name);
KV_BOARD_API void KV_dllname(char* name);
KV_BOARD_API void KV_version(char* version);
/* Lines per board: 1. */
KV_BOARD_API int32_t KV_maxline(void);

/* ---- boards --------------------------------------------------------------- */
/* Open a board: named semaphores, device instance, mail thread and events,
 * board window. 0, 1, 3, 4, 5, 6 or 9. */
KV_BOARD_API int32_t KV_open(int32_t board);
/* Close it again in this process. 0, 2 or 3. */
KV_BOARD_API int32_t KV_close(int32_t board);

/* ---- line control ----------------------------------------------------------- */
/* Join the line as stations station..station+count-1 (clamped to 0..63) in
 * normal or long-frame mode; busSize is accepted and not used. 0 or 15. */
KV_BOARD_API int32_t KV_start(int32_t board, int32_t line, int32_t station, int32_t count,
                              int32_t busSize);
KV_BOARD_API int32_t KV_start_lf(int32_t board, int32_t line, int32_t station, int32_t count,
                                 int32_t busSize);
/* Put the chip into GMM set-up only (argument not used). 0 or 15. */
KV_BOARD_API int32_t KV_start_gmm(int32_t board, int32_t line, int32_t unused);
/* Leave the line (100 ms waits before and after). 0. */
KV_BOARD_API int32_t KV_stop(int32_t board, int32_t line);
/* Fill the started stations' output blocks with the low 16 bits of data. 0. */
KV_BOARD_API int32_t KV_reset(int32_t board, int32_t line, int32_t data);
/* The station address and count of the last successful start. 0. */
KV_BOARD_API int32_t KV_GetCnectStat(int32_t board, int32_t line, int32_t* station, int32_t* count);
/* Baud code for the next start: 3, 6 or 12 Mbit/s; -1 leaves the chip's
 * setting alone. 0. */
KV_BOARD_API int32_t KV_config(int32_t board, int32_t line, int32_t baud);
/* Pass-through device requests: 0 or -1. */
KV_BOARD_API int32_t KV_Status(int32_t board, int32_t line, KV_STATUS_RECORD* status);
KV_BOARD_API int32_t KV_Name(int32_t board, int32_t line, KV_NAME_RECORD* name);
KV_BOARD_API int32_t KV_Connect(int32_t board, int32_t line, const KV_CONNECT_RECORD* record);
KV_BOARD_API int32_t KV_ConnectLF(int32_t board, int32_t line, const KV_CONNECT_RECORD* record);
KV_BOARD_API int32_t KV_ConnectGMM(int32_t board, int32_t line);
KV_BOARD_API int32_t KV_DisConnect(int32_t board, int32_t line);

/* ---- board window ------------------------------------------------------------ */
/* Addresses in the 4096-byte board window: its base, or station slot s
 * (8 bytes at 8 * s) chosen by number or by a station name. 0, 3, 16 (-1 for
 * KV_Map when the name is not known). */
KV_BOARD_API int32_t KV_Attach(int32_t board, int32_t line, void** address);
KV_BOARD_API int32_t KV_Alloc(int32_t board, int32_t line, int32_t station, void** address);
KV_BOARD_API int32_t KV_Map(int32_t board, int32_t line, const char* text, void** address);
/* Nothing to give back; 0. */
KV_BOARD_API int32_t KV_Free(int32_t board, int32_t line);
KV_BOARD_API int32_t KV_UnMap(int32_t board, int32_t line);
/* This master's own 8-byte station slot, and any station's slot. KV_Put
 * reads the master's own address with a status request first: when that
 * request fails it writes nothing and returns KV_ERR_REQUEST (-1). */
KV_BOARD_API int32_t KV_Put(int32_t board, int32_t line, const uint8_t* data);
KV_BOARD_API int32_t KV_Get(int32_t board, int32_t line, int32_t station, uint8_t* data);

/* Registers by window offset, one access of their width. */
KV_BOARD_API int32_t KV_GetReg16(int32_t board, int32_t line, int32_t offset, uint16_t* value);
KV_BOARD_API int32_t KV_GetReg32(int32_t board, int32_t line, int32_t offset, uint32_t* value);
KV_BOARD_API int32_t KV_GetReg64(int32_t board, int32_t line, int32_t offset, uint64_t* value);
KV_BOARD_API int32_t KV_SetReg16(int32_t board, int32_t line, int32_t offset, int32_t value);
KV_BOARD_API int32_t KV_SetReg32(int32_t board, int32_t line, int32_t offset, int32_t value);
KV_BOARD_API int32_t KV_SetReg64(int32_t board, int32_t line, int32_t offset, uint64_t value);

/* The GM area (station blocks 0..63, 8 bytes each): count elements from
 * element (station * elements per block + offset). Reads and writes are each
 * serialised across processes; writes load the chip's write count register
 * before every block. 0, 3 or 16. */
KV_BOARD_API int32_t KV_GetMemByte(int32_t board, int32_t line, uint8_t* data, int32_t station,
                                   int32_t offset, int32_t count);
KV_BOARD_API int32_t KV_GetMemShort(int32_t board, int32_t line, uint16_t* data, int32_t station,
                                    int32_t offset, int32_t count);
KV_BOARD_API int32_t KV_GetMemLong(int32_t board, int32_t line, uint32_t* data, int32_t station,
                                   int32_t offset, int32_t count);
KV_BOARD_API int32_t KV_GetMemDLong(int32_t board, int32_t line, uint64_t* data, int32_t index1,
                                    int32_t index2, int32_t count);
KV_BOARD_API int32_t KV_SetMemByte(int32_t board, int32_t line, const uint8_t* data,
                                   int32_t station, int32_t offset, int32_t count);
KV_BOARD_API int32_t KV_SetMemShort(int32_t board, int32_t line, const uint16_t* data,
                                    int32_t station, int32_t offset, int32_t count);
KV_BOARD_API int32_t KV_SetMemLong(int32_t board, int32_t line, const uint32_t* data,
                                   int32_t station, int32_t offset, int32_t count);
KV_BOARD_API int32_t KV_SetMemDLong(int32_t board, int32_t line, const uint64_t* data,
                                    int32_t index1, int32_t index2, int32_t count);

/* The chip's CHKC word. */
KV_BOARD_API int32_t KV_Ck(int32_t board, int32_t line, uint16_t* value);
/* Reset the board through its driver. 0 or -1. */
KV_BOARD_API int32_t KV_HardReset(int32_t board, int32_t line);

/* ---- mail (up to 256 bytes between stations) ------------------------------------ */
/* Mail can be open on a board line in one process at a time (18 otherwise). */
KV_BOARD_API int32_t KV_MailOpen(int32_t board, int32_t line);
KV_BOARD_API int32_t KV_MailClose(int32_t board, int32_t line);
/* Hand a mail to the chip; completion shows in the status word (bit 0). */
KV_BOARD_API int32_t KV_MailSend(int32_t board, int32_t line, int32_t station, const uint8_t* data,
                                 int32_t length);
/* Take the pending received mail (cut to length); 22 when none waits. */
KV_BOARD_API int32_t KV_MailReceive(int32_t board, int32_t line, uint8_t* data, int32_t length,
                                    int32_t* station);
/* Poll the chip once and give the mail status word. */
KV_BOARD_API int32_t KV_MailStatus(int32_t board, int32_t line, uint16_t* status);
/* Wait for a mail event: 23 send result, 24 received, 25 closing, -1 error. */
KV_BOARD_API int32_t KV_MailWaitObject(int32_t board, int32_t line, uint16_t* status);

#ifdef __cplusplus
}
#endif

#endif /* KALVO_BOARD_LIBRARY_H */
