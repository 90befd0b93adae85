// A dcraw that a file took over: it writes nothing and never ends by itself.

#include <time.h>

int main()
{
    for (;;) {
        timespec hour{3600, 0};
        ::nanosleep(&hour, nullptr);
    }
}
