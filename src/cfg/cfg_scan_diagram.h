// Settings of the scan-diagram view: the time window and, per scanner channel, the
// curve's validity, visibility, colour, patterns and Y range.
#pragma once

#include <map>

class drv_if_t;

enum plib_scan_trend_display_mode_t : int {
    scan_trend_display_auto = 0,
    scan_trend_display_manual = 1,
};

struct curve_param_t {
    bool valid = false;
    int auto_range = 1;
    double upper = 0.0;
    double lower = 0.0;
    double span = 0.0;
    double centre = 0.0;
    bool visible = true;
    unsigned int color = 0;  // QRgb without alpha
    int line_pattern = 1;    // Qt::SolidLine
    int symbol_pattern = 0;  // QwtSymbol::Ellipse
};

struct plib_curve_scale_t {
    double upper = 0.0;
    double lower = 0.0;
    double span = 0.0;
    double centre = 0.0;
};

class cfg_scan_diagram_t {
public:
    static constexpr int colour_count = 16;
    // Channels 1..N, N from the driver (16), at most one colour per channel.
    explicit cfg_scan_diagram_t(drv_if_t* driver);

    void set_display_mode(int mode) { m_display_mode = mode; }
    int get_display_mode() const { return m_display_mode; }
    // Stored only when start < end.
    void set_display_period(double start, double end);
    void get_display_period(double& start, double& end) const {
        start = m_start;
        end = m_end;
    }

    // A channel without an entry is ignored.
    void set_curve_valid(int ch, bool valid);
    void set_auto_range(int ch, int on);
    void set_curve_visible(int ch, bool visible);
    void set_curve_color(int ch, unsigned int color);
    void set_curve_line_pattern(int ch, int pattern);
    void set_curve_symbol(int ch, int symbol);
    void set_range(int ch, double upper, double lower);

    bool get_curve_valid(int ch) const;
    int get_auto_range(int ch) const;  // 0 for a channel without an entry
    bool get_curve_visible(int ch) const;
    unsigned int get_curve_color(int ch) const;
    int get_curve_line_pattern(int ch) const;
    int get_curve_symbol(int ch) const;
    void get_range(int ch, double& upper, double& lower) const;  // unchanged without an entry
    void get_curve_scale(int ch, plib_curve_scale_t& scale) const;

    const std::map<int, curve_param_t>& curves() const { return m_curves; }

private:
    drv_if_t* m_pdrv = nullptr;
    int m_display_mode = scan_trend_display_auto;
    double m_start = 0.0;
    double m_end = 60.0;
    std::map<int, curve_param_t> m_curves;
};

// The colour a new curve of channel ch gets (0 outside 1..16).
unsigned int cfg_scan_diagram_default_color(int ch);
