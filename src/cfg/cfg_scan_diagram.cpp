#include "cfg/cfg_scan_diagram.h"

#include "drv/if/drv_if.h"

namespace {
constexpr unsigned int default_colors[cfg_scan_diagram_t::colour_count] = {
    0xA6CEE3, 0x1F78B4, 0xFF658F, 0xB2DF8A, 0x33A02C, 0xFB9A99, 0xE31A1C, 0xFDBF6F,
    0xFF7F00, 0xCAB2D6, 0x6A3D9A, 0xFFFF99, 0x8DD3C7, 0xB15928, 0xBEBADA, 0xC86464,
};
}  // namespace

unsigned int cfg_scan_diagram_default_color(int ch) {
    return (ch >= 1 && ch <= cfg_scan_diagram_t::colour_count) ? default_colors[ch - 1] : 0u;
}

cfg_scan_diagram_t::cfg_scan_diagram_t(drv_if_t* driver) : m_pdrv(driver) {
    int n = m_pdrv != nullptr ? m_pdrv->get_scan_channel_count() : colour_count;
    // The colour table covers a 16-channel card; more channels are outside the model.
    if (n > colour_count) n = colour_count;
    for (int ch = 1; ch <= n; ++ch) {
        curve_param_t c;
        c.color = cfg_scan_diagram_default_color(ch);
        m_curves.emplace(ch, c);
    }
}

void cfg_scan_diagram_t::set_display_period(double start, double end) {
    if (!(start < end)) return;
    m_start = start;
    m_end = end;
}

#define CFG_SET(field, value)    \
    auto it = m_curves.find(ch); \
    if (it != m_curves.end()) it->second.field = value

void cfg_scan_diagram_t::set_curve_valid(int ch, bool valid) { CFG_SET(valid, valid); }
void cfg_scan_diagram_t::set_auto_range(int ch, int on) { CFG_SET(auto_range, on); }
void cfg_scan_diagram_t::set_curve_visible(int ch, bool visible) { CFG_SET(visible, visible); }
void cfg_scan_diagram_t::set_curve_color(int ch, unsigned int color) { CFG_SET(color, color); }
void cfg_scan_diagram_t::set_curve_line_pattern(int ch, int pattern) { CFG_SET(line_pattern, pattern); }
void cfg_scan_diagram_t::set_curve_symbol(int ch, int symbol) { CFG_SET(symbol_pattern, symbol); }
#undef CFG_SET

void cfg_scan_diagram_t::set_range(int ch, double upper, double lower) {
    auto it = m_curves.find(ch);
    if (it == m_curves.end()) return;
    it->second.upper = upper;
    it->second.lower = lower;
    it->second.span = upper - lower;
    it->second.centre = (upper + lower) / 2.0;
}

#define CFG_GET(field, fallback) \
    auto it = m_curves.find(ch); \
    return it != m_curves.end() ? it->second.field : fallback

bool cfg_scan_diagram_t::get_curve_valid(int ch) const { CFG_GET(valid, false); }
int cfg_scan_diagram_t::get_auto_range(int ch) const { CFG_GET(auto_range, 0); }
bool cfg_scan_diagram_t::get_curve_visible(int ch) const { CFG_GET(visible, true); }
unsigned int cfg_scan_diagram_t::get_curve_color(int ch) const {
    CFG_GET(color, cfg_scan_diagram_default_color(ch));
}
int cfg_scan_diagram_t::get_curve_line_pattern(int ch) const { CFG_GET(line_pattern, 1); }
int cfg_scan_diagram_t::get_curve_symbol(int ch) const { CFG_GET(symbol_pattern, 0); }
#undef CFG_GET

void cfg_scan_diagram_t::get_range(int ch, double& upper, double& lower) const {
    auto it = m_curves.find(ch);
    if (it == m_curves.end()) return;
    upper = it->second.upper;
    lower = it->second.lower;
}

void cfg_scan_diagram_t::get_curve_scale(int ch, plib_curve_scale_t& scale) const {
    auto it = m_curves.find(ch);
    if (it == m_curves.end()) return;
    scale.upper = it->second.upper;
    scale.lower = it->second.lower;
    scale.span = it->second.span;
    scale.centre = it->second.centre;
}
