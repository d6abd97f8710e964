/* qmtrc.h - the trace library.
 *
 * qmtrc takes the trace records that wygl (and any other component) writes and keeps them:
 * in an in-memory ring that a host or a test drains, in a binary file when QMTRC_FILE names
 * one, and through a sink callback that a host installs. The library that writes records
 * sees only two symbols: the level mask `trcevents`, which it reads at each tracepoint, and
 * `trcwriterec`, which takes one record.
 *
 * The mask starts from the environment variable QMTRC_MASK: numbers (decimal, or hexadecimal
 * with 0x) or level names joined by commas ("exception,operation"; the names are in
 * qmtrc/README.md), 0 when it is unset. QMTRC_FILE, when set at load, names a file to which
 * every record is appended (format: qmtrc/README.md). A value of either that cannot be used is
 * reported in one line on stderr, the only output the library makes of its own.
 *
 * Example (a test capturing the records of one operation):
 *
 *   uint32_t old = qmtrc_set_mask(0x800);
 *   qmtrc_clear();
 *   ... run the code under test ...
 *   qmtrc_drain(&collect, &records);   // oldest first
 *   qmtrc_set_mask(old);
 *
 * Every function here may be called from any thread at any time. Records written by one
 * thread keep their order; each record is taken whole (its data is copied before
 * trcwriterec returns, and no other record is interleaved with it).
 */

#ifndef QMTRC_H
#define QMTRC_H

#include <stddef.h>
#include <stdint.h>

#include <qmtrc/qmtrc_export.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The enabled trace levels. Writers read it (a relaxed atomic load) at each tracepoint;
 * change it through qmtrc_set_mask, which stores it atomically. */
QMTRC_API extern uint32_t trcevents;

/* Takes one record: the kind word, the tracepoint word, the object concerned (0 if none),
 * and up to three data items given as (length in bytes, address). Items with length 0 are
 * empty; their address is not read. The data is copied before the call returns, so the
 * caller may reuse its buffers at once. Never fails and never throws; a record that cannot
 * be kept (ring too small for it, file write error) is counted in qmtrc_lost(). */
QMTRC_API void trcwriterec(uint32_t kind, uint32_t tracepoint, const void* object,
                           uint32_t length1, const void* data1, uint32_t length2,
                           const void* data2, uint32_t length3, const void* data3);

/* One record as it was kept. The data pointers are valid only during the callback that
 * receives the record; an empty item's pointer is not NULL, but points to no data. */
typedef struct qmtrc_record {
  uint64_t sequence; /* process-wide order of arrival, from 1 */
  uint64_t time_ns;  /* wall-clock time of arrival, in nanoseconds since 1970-01-01 UTC */
  uint64_t object;   /* the object word, widened */
  uint32_t thread;   /* small number of the writing thread, from 1 in order of first record */
  uint32_t kind;
  uint32_t tracepoint;
  uint32_t length[3];
  const unsigned char* data[3];
} qmtrc_record;

typedef void (*qmtrc_visit_fn)(const qmtrc_record* record, void* context);

/* Sets the mask and returns the mask it replaces. */
QMTRC_API uint32_t qmtrc_set_mask(uint32_t mask);

/* Installs a sink that sees every record after it is kept, on the writing thread; NULL
 * removes it. The sink runs without any of qmtrc's locks held except one shared gate that
 * qmtrc_set_sink waits on, so a sink must not call qmtrc_set_sink itself. When
 * qmtrc_set_sink returns, no call of the previous sink is still running. A record that the
 * sink itself writes is kept but not handed to the sink again. */
QMTRC_API void qmtrc_set_sink(qmtrc_visit_fn sink, void* context);

/* Hands every record held in the ring to visit, oldest first, and removes them. Returns the
 * number of records visited. visit runs with no qmtrc lock held; records written meanwhile
 * stay in the ring for the next drain. A NULL visit discards the records. */
QMTRC_API size_t qmtrc_drain(qmtrc_visit_fn visit, void* context);

/* Empties the ring and resets the lost-record count. */
QMTRC_API void qmtrc_clear(void);

/* Sets the ring's capacity in bytes (records and their data), emptying it; returns the old
 * capacity. A record takes 52 bytes plus its data. When the ring is full, the oldest records
 * are dropped to make room, and each dropped record is counted as lost; the records thrown
 * away by this call are not. Capacity 0 keeps nothing in memory: the ring is off, records
 * still reach the file and the sink, and they are not counted as lost. The default is 4 MiB,
 * allocated when the first record arrives. */
QMTRC_API size_t qmtrc_set_ring_capacity(size_t bytes);

/* Records lost since load or the last qmtrc_clear: dropped from a full ring, too large for
 * it, or not written to the trace file. */
QMTRC_API uint64_t qmtrc_lost(void);

/* Starts appending records to the file at path (created if absent, with the file header
 * written when it is empty); NULL stops. The previous file, if any, is closed first. Returns
 * 0 on success, -1 when the file cannot be opened or holds something other than a qmtrc
 * trace of this format version (no file is used then). Each record reaches the operating
 * system before trcwriterec returns, so that a crash loses none. */
QMTRC_API int qmtrc_set_file(const char* path);

#ifdef __cplusplus
}
#endif

#endif /* QMTRC_H */
