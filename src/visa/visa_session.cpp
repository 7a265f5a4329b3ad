#include "visa/visa_session.h"

#include <cstring>

namespace visa {

deadline_t operation_deadline(ViUInt32 tmo_ms) {
    return deadline_after_ms(tmo_ms == VI_TMO_INFINITE ? infinite_tmo_cap_ms : tmo_ms);
}

namespace {
bool to_bool(ViAttrState v, bool& out) {
    if (v > 1) return false;
    out = v != 0;
    return true;
}
}  // namespace

ViStatus session_t::set_attribute(ViAttr attr, ViAttrState value) {
    switch (attr) {
        case VI_ATTR_TMO_VALUE:
            if (value > 0xFFFFFFFFULL) return VI_ERROR_NSUP_ATTR_STATE;
            m_attrs.tmo_ms = static_cast<ViUInt32>(value);
            return VI_SUCCESS;
        case VI_ATTR_TERMCHAR:
            if (value > 0xFF) return VI_ERROR_NSUP_ATTR_STATE;
            m_attrs.termchar = static_cast<ViUInt8>(value);
            return VI_SUCCESS;
        case VI_ATTR_TERMCHAR_EN:
            return to_bool(value, m_attrs.termchar_en) ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
        case VI_ATTR_SEND_END_EN:
            return to_bool(value, m_attrs.send_end_en) ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
        case VI_ATTR_SUPPRESS_END_EN:
            return to_bool(value, m_attrs.suppress_end_en) ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
        case VI_ATTR_INTF_TYPE:
        case VI_ATTR_INTF_NUM:
            return VI_ERROR_ATTR_READONLY;
        default:
            return VI_ERROR_NSUP_ATTR;
    }
}

ViStatus session_t::get_attribute(ViAttr attr, void* value) const {
    // Each attribute is written with its VISA type's size, as callers allocate it.
    auto put = [value](auto v) {
        std::memcpy(value, &v, sizeof v);
        return VI_SUCCESS;
    };
    switch (attr) {
        case VI_ATTR_TMO_VALUE:
            return put(ViUInt32{m_attrs.tmo_ms});
        case VI_ATTR_TERMCHAR:
            return put(ViUInt8{m_attrs.termchar});
        case VI_ATTR_TERMCHAR_EN:
            return put(ViBoolean{m_attrs.termchar_en ? VI_TRUE : VI_FALSE});
        case VI_ATTR_SEND_END_EN:
            return put(ViBoolean{m_attrs.send_end_en ? VI_TRUE : VI_FALSE});
        case VI_ATTR_SUPPRESS_END_EN:
            return put(ViBoolean{m_attrs.suppress_end_en ? VI_TRUE : VI_FALSE});
        case VI_ATTR_INTF_TYPE:
            return put(ViUInt16{m_intf_type});
        case VI_ATTR_INTF_NUM:
            return put(ViUInt16{m_intf_num});
        default:
            return VI_ERROR_NSUP_ATTR;
    }
}

}  // namespace visa
