/* A stand-in for a system VISA shared library, built by the tests: it exports the
   ten C entry points with recognisable answers so the tests can tell that our
   layer forwarded each call (and its arguments) to it. Single-threaded use only. */
#include <stdint.h>
#include <string.h>

typedef int32_t ViStatus;
typedef uint32_t ViUInt32;
typedef uint16_t ViUInt16;
typedef uint64_t ViAttrState;

#define FAKE_RM 0x4242u
#define FAKE_FIND 0x5151u
#define FAKE_INSTR 0x7777u
#define ERR_INV_OBJECT ((ViStatus)0xBFFF000Eu)
#define ERR_RSRC_NFOUND ((ViStatus)0xBFFF0011u)
#define ERR_NSUP_ATTR ((ViStatus)0xBFFF001Du)

static char g_last_write[256];
static ViUInt32 g_last_write_len;
static ViUInt32 g_next_found;
static ViAttrState g_tmo = 1234;

ViStatus viOpenDefaultRM(ViUInt32* vi) {
    *vi = FAKE_RM;
    return 0;
}

ViStatus viFindRsrc(ViUInt32 sesn, const char* expr, ViUInt32* vi, ViUInt32* cnt, char* desc) {
    if (sesn != FAKE_RM) return ERR_INV_OBJECT;
    if (strcmp(expr, "(USB|TCPIP)?*INSTR") != 0) return ERR_RSRC_NFOUND;
    *vi = FAKE_FIND;
    *cnt = 2;
    strcpy(desc, "TCPIP0::fake-one::inst0::INSTR");
    g_next_found = 1;
    return 0;
}

ViStatus viFindNext(ViUInt32 vi, char* desc) {
    if (vi != FAKE_FIND) return ERR_INV_OBJECT;
    if (g_next_found != 1) return ERR_RSRC_NFOUND;
    g_next_found = 2;
    strcpy(desc, "USB0::0x1234::0x5678::FAKE::INSTR");
    return 0;
}

ViStatus viParseRsrc(ViUInt32 sesn, const char* name, ViUInt16* type, ViUInt16* num) {
    (void)name;
    if (sesn != FAKE_RM) return ERR_INV_OBJECT;
    *type = 99;
    *num = 3;
    return 0;
}

ViStatus viOpen(ViUInt32 sesn, const char* name, ViUInt32 mode, ViUInt32 timeout, ViUInt32* vi) {
    (void)mode;
    (void)timeout;
    if (sesn != FAKE_RM) return ERR_INV_OBJECT;
    if (strcmp(name, "TCPIP0::fake-one::inst0::INSTR") != 0) return ERR_RSRC_NFOUND;
    *vi = FAKE_INSTR;
    return 0;
}

ViStatus viClose(ViUInt32 vi) {
    return (vi == FAKE_RM || vi == FAKE_FIND || vi == FAKE_INSTR) ? 0 : ERR_INV_OBJECT;
}

ViStatus viWrite(ViUInt32 vi, const unsigned char* buf, ViUInt32 cnt, ViUInt32* ret) {
    if (vi != FAKE_INSTR) return ERR_INV_OBJECT;
    g_last_write_len = cnt < sizeof g_last_write ? cnt : (ViUInt32)sizeof g_last_write;
    memcpy(g_last_write, buf, g_last_write_len);
    *ret = cnt;
    return 0;
}

ViStatus viRead(ViUInt32 vi, unsigned char* buf, ViUInt32 cnt, ViUInt32* ret) {
    static const char prefix[] = "fake:";
    ViUInt32 n = 0, i;
    if (vi != FAKE_INSTR) return ERR_INV_OBJECT;
    for (i = 0; i < sizeof prefix - 1 && n < cnt; ++i) buf[n++] = (unsigned char)prefix[i];
    for (i = 0; i < g_last_write_len && n < cnt; ++i) buf[n++] = (unsigned char)g_last_write[i];
    *ret = n;
    return 0;
}

ViStatus viSetAttribute(ViUInt32 vi, ViUInt32 attr, ViAttrState value) {
    if (vi != FAKE_INSTR) return ERR_INV_OBJECT;
    if (attr != 0x3FFF001Au) return ERR_NSUP_ATTR;
    g_tmo = value;
    return 0;
}

ViStatus viGetAttribute(ViUInt32 vi, ViUInt32 attr, void* value) {
    ViUInt32 v = (ViUInt32)g_tmo;
    if (vi != FAKE_INSTR) return ERR_INV_OBJECT;
    if (attr != 0x3FFF001Au) return ERR_NSUP_ATTR;
    memcpy(value, &v, sizeof v);
    return 0;
}
