#include "visa/visa_rm.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "visa/visa_discovery.h"
#include "visa/visa_find_expr.h"
#include "visa/visa_rsrc_name.h"
#include "visa/visa_session_socket.h"
#include "visa/visa_session_vxi11.h"
#include "visa/visa_usbtmc.h"

namespace visa {
namespace builtin {

namespace {

struct object_t {
    enum class kind_t { rm, find_list, instr };
    explicit object_t(kind_t k) : kind(k) {}
    kind_t kind;
    ViSession parent = VI_NULL;  // the resource manager that opened it
    // rm: the objects it opened (guarded by the table mutex).
    std::set<ViSession> children;
    // find_list: the resources found and the next one to hand out.
    std::mutex list_mutex;  // guards `found` and `next`
    std::vector<std::string> found;
    size_t next = 0;
    // instr: the session.
    std::unique_ptr<session_t> session;
};

// One table of every object; its mutex guards the map, the id counter and the
// rm children sets. Instrument I/O happens outside it, under the session's lock.
struct table_t {
    std::mutex mutex;
    std::map<ViSession, std::shared_ptr<object_t>> objects;
    ViSession next_id = 0x1000;
};

table_t& table() {
    static table_t t;
    return t;
}

std::shared_ptr<object_t> lookup(ViSession id) {
    table_t& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = t.objects.find(id);
    return it == t.objects.end() ? nullptr : it->second;
}

ViSession insert(std::shared_ptr<object_t> obj) {
    table_t& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    // Ids are not reused while the process lives (a wrap after 4e9 opens skips live ones).
    do {
        ++t.next_id;
    } while (t.next_id == VI_NULL || t.objects.count(t.next_id));
    const ViSession id = t.next_id;
    if (obj->parent != VI_NULL) {
        const auto p = t.objects.find(obj->parent);
        if (p == t.objects.end()) return VI_NULL;  // the resource manager closed meanwhile
        p->second->children.insert(id);
    }
    t.objects.emplace(id, std::move(obj));
    return id;
}

// Removes `id` (and, for a resource manager, everything it opened) from the table;
// returns the removed objects so they can be closed outside the table lock.
std::vector<std::shared_ptr<object_t>> remove_tree(ViSession id) {
    std::vector<std::shared_ptr<object_t>> removed;
    table_t& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = t.objects.find(id);
    if (it == t.objects.end()) return removed;
    std::shared_ptr<object_t> obj = it->second;
    t.objects.erase(it);
    if (obj->parent != VI_NULL) {
        const auto p = t.objects.find(obj->parent);
        if (p != t.objects.end()) p->second->children.erase(id);
    }
    for (ViSession child : obj->children) {
        const auto c = t.objects.find(child);
        if (c != t.objects.end()) {
            removed.push_back(c->second);
            t.objects.erase(c);
        }
    }
    obj->children.clear();
    removed.push_back(std::move(obj));
    return removed;
}

void copy_desc(ViChar* desc, const std::string& s) {
    if (!desc) return;
    const size_t n = std::min(s.size(), static_cast<size_t>(VI_FIND_BUFLEN - 1));
    std::memcpy(desc, s.data(), n);
    desc[n] = '\0';
}

ViStatus instr_of(ViSession vi, std::shared_ptr<object_t>& out) {
    out = lookup(vi);
    if (!out) return VI_ERROR_INV_OBJECT;
    if (out->kind != object_t::kind_t::instr) return VI_ERROR_NSUP_OPER;
    return VI_SUCCESS;
}

}  // namespace

size_t open_object_count() {
    table_t& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.objects.size();
}

ViStatus viOpenDefaultRM(ViSession* vi) {
    if (!vi) return VI_ERROR_INV_PARAMETER;
    *vi = insert(std::make_shared<object_t>(object_t::kind_t::rm));
    return VI_SUCCESS;
}

ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViFindList* vi, ViUInt32* retCnt, ViChar desc[]) {
    if (vi) *vi = VI_NULL;
    if (retCnt) *retCnt = 0;
    const auto rm = lookup(sesn);
    if (!rm) return VI_ERROR_INV_OBJECT;
    if (rm->kind != object_t::kind_t::rm) return VI_ERROR_NSUP_OPER;
    if (!expr) return VI_ERROR_INV_EXPR;
    find_expr_t matcher;
    if (!matcher.compile(expr)) return VI_ERROR_INV_EXPR;

    auto list = std::make_shared<object_t>(object_t::kind_t::find_list);
    for (auto& r : discover_resources()) {
        if (matcher.matches(r)) list->found.push_back(std::move(r));
    }
    if (list->found.empty()) return VI_ERROR_RSRC_NFOUND;
    copy_desc(desc, list->found.front());
    list->next = 1;
    if (retCnt) *retCnt = static_cast<ViUInt32>(list->found.size());
    list->parent = sesn;
    const ViSession id = insert(list);
    if (id == VI_NULL) return VI_ERROR_INV_OBJECT;
    if (vi) {
        *vi = id;
    } else {
        remove_tree(id);  // nobody can ever close it
    }
    return VI_SUCCESS;
}

ViStatus viFindNext(ViFindList vi, ViChar desc[]) {
    const auto list = lookup(vi);
    if (!list) return VI_ERROR_INV_OBJECT;
    if (list->kind != object_t::kind_t::find_list) return VI_ERROR_NSUP_OPER;
    std::lock_guard<std::mutex> lock(list->list_mutex);
    if (list->next >= list->found.size()) return VI_ERROR_RSRC_NFOUND;
    copy_desc(desc, list->found[list->next++]);
    return VI_SUCCESS;
}

ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViUInt16* intfType, ViUInt16* intfNum) {
    const auto rm = lookup(rmSesn);
    if (!rm) return VI_ERROR_INV_OBJECT;
    if (rm->kind != object_t::kind_t::rm) return VI_ERROR_NSUP_OPER;
    rsrc_name_t name;
    if (!rsrcName || !parse_rsrc_name(rsrcName, name)) return VI_ERROR_INV_RSRC_NAME;
    if (intfType) *intfType = rsrc_interface_type(name);
    if (intfNum) *intfNum = rsrc_board(name);
    return VI_SUCCESS;
}

ViStatus viOpen(ViSession sesn, ViConstRsrc rsrc, ViAccessMode mode, ViUInt32 timeout, ViSession* vi) {
    if (vi) *vi = VI_NULL;
    const auto rm = lookup(sesn);
    if (!rm) return VI_ERROR_INV_OBJECT;
    if (rm->kind != object_t::kind_t::rm) return VI_ERROR_NSUP_OPER;
    if (!vi) return VI_ERROR_INV_PARAMETER;
    if ((mode & ~(VI_EXCLUSIVE_LOCK | VI_LOAD_CONFIG)) != 0) return VI_ERROR_INV_ACC_MODE;
    rsrc_name_t name;
    if (!rsrc || !parse_rsrc_name(rsrc, name)) return VI_ERROR_INV_RSRC_NAME;
    const bool exclusive = (mode & VI_EXCLUSIVE_LOCK) != 0;

    std::unique_ptr<session_t> session;
    ViStatus st = VI_ERROR_RSRC_NFOUND;
    if (const auto* instr = std::get_if<tcpip_instr_name_t>(&name)) {
        st = vxi11_session_t::open(*instr, exclusive, timeout, session);
    } else if (exclusive) {
        // Only the VXI-11 link can lock the device for us.
        return VI_ERROR_INV_ACC_MODE;
    } else if (const auto* sock = std::get_if<tcpip_socket_name_t>(&name)) {
        st = socket_session_t::open(*sock, session);
    } else {
        st = usbtmc_session_t::open(std::get<usb_instr_name_t>(name), session);
    }
    if (st != VI_SUCCESS) return st;
    auto obj = std::make_shared<object_t>(object_t::kind_t::instr);
    obj->session = std::move(session);
    obj->parent = sesn;
    const ViSession id = insert(obj);
    if (id == VI_NULL) {
        std::lock_guard<std::mutex> lock(obj->session->m_mutex);
        obj->session->close();
        return VI_ERROR_INV_OBJECT;
    }
    *vi = id;
    return VI_SUCCESS;
}

ViStatus viClose(ViObject vi) {
    if (vi == VI_NULL) return VI_SUCCESS;  // VISA allows closing VI_NULL
    const auto removed = remove_tree(vi);
    if (removed.empty()) return VI_ERROR_INV_OBJECT;
    for (const auto& obj : removed) {
        if (obj->session) {
            // Waits for an operation another thread may still run on it.
            std::lock_guard<std::mutex> lock(obj->session->m_mutex);
            obj->session->close();
        }
    }
    return VI_SUCCESS;
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViUInt32* retCnt) {
    if (retCnt) *retCnt = 0;
    std::shared_ptr<object_t> obj;
    const ViStatus st = instr_of(vi, obj);
    if (st != VI_SUCCESS) return st;
    if (!buf && cnt > 0) return VI_ERROR_INV_PARAMETER;
    std::lock_guard<std::mutex> lock(obj->session->m_mutex);
    ViUInt32 written = 0;
    const ViStatus r = obj->session->write(buf, cnt, written);
    if (retCnt) *retCnt = written;
    return r;
}

ViStatus viRead(ViSession vi, ViBuf buf, ViUInt32 cnt, ViUInt32* retCnt) {
    if (retCnt) *retCnt = 0;
    std::shared_ptr<object_t> obj;
    const ViStatus st = instr_of(vi, obj);
    if (st != VI_SUCCESS) return st;
    if (!buf && cnt > 0) return VI_ERROR_INV_PARAMETER;
    std::lock_guard<std::mutex> lock(obj->session->m_mutex);
    ViUInt32 got = 0;
    const ViStatus r = obj->session->read(buf, cnt, got);
    if (retCnt) *retCnt = got;
    return r;
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    const auto obj = lookup(vi);
    if (!obj) return VI_ERROR_INV_OBJECT;
    if (obj->kind != object_t::kind_t::instr) return VI_ERROR_NSUP_ATTR;
    std::lock_guard<std::mutex> lock(obj->session->m_mutex);
    return obj->session->set_attribute(attrName, attrValue);
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
    const auto obj = lookup(vi);
    if (!obj) return VI_ERROR_INV_OBJECT;
    if (!attrValue) return VI_ERROR_INV_PARAMETER;
    if (obj->kind != object_t::kind_t::instr) return VI_ERROR_NSUP_ATTR;
    std::lock_guard<std::mutex> lock(obj->session->m_mutex);
    return obj->session->get_attribute(attrName, attrValue);
}

}  // namespace builtin
}  // namespace visa
