#include "platform/HeapTuning.h"

#include <climits>

#include <malloc.h>

void HeapTuning::keepFreedMemoryForReuse(std::size_t bytes)
{
    mallopt(M_TRIM_THRESHOLD, bytes > std::size_t(INT_MAX) ? INT_MAX : int(bytes));
}
