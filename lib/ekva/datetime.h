/*
 * datetime - timestamps written as text, read as local calendar time.
 */
#ifndef KESTRIN_EKVA_DATETIME_H
#define KESTRIN_EKVA_DATETIME_H

#include "../kestrin_api.h"

#include <stdint.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif
KESTRIN_API_BEGIN

/*
 * datetime_parse: reads the first 19 characters of text with
 * "%04d-%02d-%02d %02d:%02d:%02d" (year, month from 1, day, hour, minute,
 * second) as local time; characters after them are ignored. Fields that
 * cannot be read keep the current local time's values (the month is still
 * moved back by one), the current daylight-saving state applies, and
 * out-of-range fields are normalised (month 13 is January of the next year).
 * Returns seconds since the epoch, or -1 for a NULL text, a text shorter than
 * 19 characters, a text whose year cannot be read, or a failed conversion.
 */
int64_t datetime_parse(const char *text) KESTRIN_NOEXCEPT;

KESTRIN_API_END
#ifdef __cplusplus
}
#endif

#endif
