// Exactly N "*IDN?" queries (viWrite + viRead) through our VISA layer, then exit:
// a whole process to set next to "lxi benchmark -c N", both timed by process CPU.
//
// usage: perf_idn_queries RESOURCE N
// The portmapper port comes from VELKARO_VXI11_PORTMAPPER_PORT (111 when unset).
// Exit codes: 0 done, 2 bad arguments, 3 open failed, 4 a query failed.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "visa/visa.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: perf_idn_queries RESOURCE N\n");
        return 2;
    }
    char* end = nullptr;
    const long count = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || count < 1 || count > 100000000L) {
        std::fprintf(stderr, "perf_idn_queries: N must be 1..100000000\n");
        return 2;
    }
    visa::ViSession rm = 0;
    visa::ViSession session = 0;
    if (visa::viOpenDefaultRM(&rm) != visa::VI_SUCCESS) return 3;
    if (visa::viOpen(rm, argv[1], visa::VI_NO_LOCK, 0, &session) != visa::VI_SUCCESS) {
        visa::viClose(rm);
        return 3;
    }
    static const char command[] = "*IDN?\n";
    unsigned char reply[256];
    visa::ViUInt32 last = 0;
    for (long i = 0; i < count; ++i) {
        visa::ViUInt32 n = 0;
        const visa::ViStatus w = visa::viWrite(session, reinterpret_cast<visa::ViConstBuf>(command),
                                               static_cast<visa::ViUInt32>(std::strlen(command)), &n);
        const visa::ViStatus r =
            w == visa::VI_SUCCESS ? visa::viRead(session, reply, sizeof(reply), &last) : w;
        if (r < 0) {
            std::fprintf(stderr, "perf_idn_queries: query %ld failed (status %d)\n", i, static_cast<int>(r));
            visa::viClose(session);
            visa::viClose(rm);
            return 4;
        }
    }
    std::printf("queries: %ld\nlast reply: %.*s", count, static_cast<int>(last),
                reinterpret_cast<char*>(reply));
    visa::viClose(session);
    visa::viClose(rm);
    return 0;
}
