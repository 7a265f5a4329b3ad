#include "ui/ui_primary_window/ui_scan_diagram_frame.h"

#include <QVBoxLayout>

#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_config.h"
#include "common/plib_measure_type.h"
#include "scan/scan_main.h"
#include "ui/chart/ui_scan_trend_chart.h"
#include "ui/ui_primary_window/ui_scan_diagram_config_widget.h"

ui_scan_diagram_frame_t::ui_scan_diagram_frame_t(QWidget* parent, ui_device_item_t* item)
    : ui_primary_base_window_t(parent, item) {
    setObjectName("scan_diag_frame");
    m_pchart = new ui_scan_trend_chart_t(m_pcfg, this);
    m_pchart->setObjectName("scan_diagram_trend_chart");
    m_pchart->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_pconfig = new ui_scan_diagram_config_widget_t(this, m_pcfg, _channel_count());
    m_pconfig->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pchart, 2);
    layout->addWidget(m_pconfig, 1);
    _load();
    _init_connect();
}

int ui_scan_diagram_frame_t::_channel_count() const { return m_pchart->channel_count(); }

void ui_scan_diagram_frame_t::_load() {
    const int n = _channel_count();
    const plib_scanner_channel_map_t* params =
        m_pcfg != nullptr ? &m_pcfg->get_scan_config()->get_channel_params() : nullptr;
    QVector<ui_scan_diagram_row_t> rows(n);
    for (int ch = 1; ch <= n; ++ch) {
        ui_scan_diagram_row_t& r = rows[ch - 1];
        r.name = QString::number(ch);
        r.measurement = QString::number(ch);
        if (params != nullptr) {
            const auto it = params->find(ch);
            if (it != params->end()) {
                r.name = ui_scan_diagram_config_widget_t::name_text(ch, it->second.name);
                r.measurement =
                    QString::fromStdString(measure_name(static_cast<plib_measure_type_t>(it->second.func)));
            }
        }
        r.valid = m_pchart->get_curve_valid(ch);
        r.visible = m_pchart->get_curve_visible(ch);
        r.color = m_pchart->get_curve_color(ch);
        r.line_pattern = m_pchart->get_curve_line_pattern(ch);
        r.symbol_pattern = m_pchart->get_curve_symbol(ch);
        r.auto_range = m_pchart->get_auto_range(ch);
        m_pchart->get_range(ch, r.upper, r.lower);
    }
    double start = 0.0;
    double end = 0.0;
    m_pchart->get_display_period(start, end);
    m_pconfig->load(rows, m_pchart->get_display_mode(), start, end);
}

void ui_scan_diagram_frame_t::_init_connect() {
    ui_scan_trend_chart_t* chart = m_pchart;
    using config_t = ui_scan_diagram_config_widget_t;
    connect(m_pconfig, &config_t::signal_change_disp_mode, chart,
            [chart](plib_scan_trend_display_mode_t mode) {
                chart->set_display_mode(mode);
                chart->refresh();
            });
    connect(m_pconfig, &config_t::signal_change_disp_period, chart,
            &ui_scan_trend_chart_t::set_display_period);
    connect(m_pconfig, &config_t::signal_change_visible, chart, &ui_scan_trend_chart_t::set_curve_visible);
    connect(m_pconfig, &config_t::signal_change_color, chart, &ui_scan_trend_chart_t::set_curve_color);
    connect(m_pconfig, &config_t::signal_change_line_pattern, chart,
            &ui_scan_trend_chart_t::set_curve_line_pattern);
    connect(m_pconfig, &config_t::signal_change_symbol_pattern, chart,
            &ui_scan_trend_chart_t::set_curve_symbol);
    connect(m_pconfig, &config_t::signal_change_auto_range, chart, [chart](int ch, bool on) {
        chart->set_auto_range(ch, on);
        chart->refresh();
    });
    connect(m_pconfig, &config_t::signal_change_range, chart, [chart](int ch, double upper, double lower) {
        chart->set_range(ch, upper, lower);
        chart->refresh();
    });
    connect(chart, &ui_scan_trend_chart_t::signal_auto_update_range, m_pconfig, &config_t::slot_update_range);
    connect(m_pconfig, &config_t::signal_select_channel, chart, &ui_scan_trend_chart_t::set_value_axis_channel);
    connect(chart, &ui_scan_trend_chart_t::signal_channel_picked, m_pconfig, &config_t::slot_show_selected_channel);
    connect(m_pconfig, &config_t::signal_change_common_axis, chart, &ui_scan_trend_chart_t::set_common_axis);
}

void ui_scan_diagram_frame_t::_update_row_texts() {
    if (m_pcfg == nullptr) return;
    const plib_scanner_channel_map_t& params = m_pcfg->get_scan_config()->get_channel_params();
    for (const auto& [ch, p] : params) {
        m_pconfig->set_row_texts(
            ch, ui_scan_diagram_config_widget_t::name_text(ch, p.name),
            QString::fromStdString(measure_name(static_cast<plib_measure_type_t>(p.func))));
    }
}

void ui_scan_diagram_frame_t::_update_data_texts() {
    if (m_pscan == nullptr || m_pcfg == nullptr) return;
    plib_scan_latest_map_t latest;
    if (m_pscan->m_scan_latest_data_msg.fetch(latest) != 0) return;
    const plib_scanner_channel_map_t& params = m_pcfg->get_scan_config()->get_channel_params();
    for (const auto& [ch, reading] : latest) {
        const auto it = params.find(ch);
        const int func = it == params.end() ? measure_dcv : it->second.func;
        m_pconfig->set_data_text(ch, ui_scan_diagram_config_widget_t::data_text(reading.value, func));
    }
}

void ui_scan_diagram_frame_t::slot_recv_measure_notify_update(plib_scan_notify_t scan_notify_type) {
    switch (scan_notify_type) {
        case scan_notify_data:
            m_pchart->refresh();
            _update_data_texts();
            break;
        case scan_notify_start: {
            if (m_pcfg == nullptr) break;
            const plib_scanner_channel_map_t params = m_pcfg->get_scan_config()->get_channel_params();
            if (params.empty()) break;
            for (int ch = 1; ch <= _channel_count(); ++ch) {
                const auto it = params.find(ch);
                const bool valid = it != params.end() && it->second.scan_state != 0;
                m_pchart->set_curve_valid(ch, valid);
                m_pconfig->set_row_shown(ch, valid);
            }
            _update_row_texts();
            break;
        }
        default:
            break;
    }
}
