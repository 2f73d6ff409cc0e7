#pragma once

/* What the test driver shares with the tests: the extra code that reads back
 * what one device object received, and the layout of that record. Plain C,
 * as the driver is. */

/* Function 0x900 of device type 0xFFDC, buffered: outside the panel's commands. */
#define KESTRUM_TEST_READ_RECORD 0xFFDC2400u

/* The largest input the panel sends: the mixer record. */
#define KESTRUM_TEST_LARGEST_INPUT 66304u

/* The test PID and firmware version the driver answers with. */
#define KESTRUM_TEST_PID 2u
#define KESTRUM_TEST_FIRMWARE "V1.07.0042"

typedef struct KestrumTestRecord {
    unsigned int bus;          /* the bus number of the device object */
    unsigned int opens;        /* handles opened on it so far */
    unsigned int closes;       /* handles closed on it so far */
    unsigned int code;         /* the last I/O-control code, answered or refused */
    unsigned int inputLength;  /* its input length */
    unsigned int outputLength; /* its output capacity */
    unsigned char input[KESTRUM_TEST_LARGEST_INPUT]; /* its first input bytes */
} KestrumTestRecord;
