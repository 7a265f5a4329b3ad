#include "cfg/cfg_main.h"

#include "acq/acq_main.h"
#include "cfg/cfg_scan_config.h"
#include "cfg/resource_registry.h"
#include "drv/if/drv_if.h"
#include "scan/scan_main.h"

cfg_main_t::cfg_main_t(acq_main_t* acq, scan_main_t* scan, drv_if_t* driver, drv_link_t* link)
    : m_pacq(acq), m_pscan(scan), m_pdrv(driver) {
    m_premote = std::make_unique<cfg_remote_t>(link, driver, driver->model(), std::string());
    // Once the instrument is identified and reset, the whole stored configuration goes to it.
    m_premote->set_config_transfer([this](drv_if_t&) { m_pmeasure->apply_to_instrument(); });
    m_pmeasure = std::make_unique<cfg_measure_t>(driver, acq);
    m_pmeasure_diagram = std::make_unique<cfg_measure_diagram_t>(acq);
    m_pscan_config = std::make_unique<cfg_scan_config_t>(driver, scan);
    m_pscan_diagram = std::make_unique<cfg_scan_diagram_t>(driver);
    m_pcfg_acq = std::make_unique<cfg_acq_t>(*acq, *m_premote, *scan, *m_pmeasure);
    m_pcfg_scan = std::make_unique<cfg_scan_t>(*scan, *m_premote, *acq, *m_pscan_config);
    m_pcfg_trig = std::make_unique<cfg_trig_t>(*driver);
    m_pproject = std::make_unique<cfg_project_t>(*m_premote, *m_pmeasure, *m_pmeasure_diagram,
                                                 *m_pscan_config, *m_pscan_diagram);
}

cfg_main_t::~cfg_main_t() {
    m_premote->connect(0);
    // The controls first: they take their record-information callbacks out of the
    // engines, which outlive the facade, before what those callbacks read goes.
    m_pproject.reset();
    m_pcfg_acq.reset();
    m_pcfg_scan.reset();
    m_pcfg_trig.reset();
    m_premote.reset();
    m_pmeasure.reset();
    m_pmeasure_diagram.reset();
    m_pscan_config.reset();
    m_pscan_diagram.reset();
}

// Device identity
cfg_remote_info_t cfg_main_t::get_info() const { return m_premote->get_info(); }
void cfg_main_t::set_info(const cfg_remote_info_t& info) { m_premote->set_info(info); }
int cfg_main_t::connect(int op) { return m_premote->connect(op); }
int cfg_main_t::connect_if_needed(int op) { return m_premote->connect_if_needed(op); }
std::string cfg_main_t::manufacturer() const { return m_premote->get_manufacturer(); }
std::string cfg_main_t::product_type() const { return m_premote->get_product_type(); }
std::string cfg_main_t::serial_number() const { return m_premote->get_serial_number(); }
std::string cfg_main_t::software_version() const { return m_premote->get_software_version(); }
void cfg_main_t::set_model(const std::string& model) { m_premote->set_model(model); }
std::string cfg_main_t::get_model() const { return m_premote->get_model(); }
void cfg_main_t::list_all(std::vector<std::string>& out) const {
    resource_registry_t::instance().list_all(out);
}
void cfg_main_t::search_found(std::vector<std::string>& out) {
    resource_registry_t::instance().search_found(out);
}
void cfg_main_t::search_all(std::vector<std::string>& out) {
    resource_registry_t::instance().search_all(out);
}
bool cfg_main_t::add(const std::string& resource) { return resource_registry_t::instance().add(resource); }
int cfg_main_t::remove(const std::string& resource) {
    return resource_registry_t::instance().remove(resource);
}

// Acquisition control
void cfg_main_t::set_run_state(int s) { m_pcfg_acq->set_run_state(s); }
int cfg_main_t::get_run_state() const { return m_pcfg_acq->get_run_state(); }
void cfg_main_t::restart() { m_pcfg_acq->restart(); }
int cfg_main_t::trigger_once() { return m_pcfg_acq->trigger_once(); }
plib_record_run_state_info_t cfg_main_t::get_run_state_info() const {
    return m_pcfg_acq->get_run_state_info();
}
bool cfg_main_t::is_recording() const { return m_pcfg_acq->is_recording(); }
double cfg_main_t::get_elapsed_s() const { return m_pcfg_acq->get_elapsed_s(); }
uint32_t cfg_main_t::get_total_count() const { return m_pcfg_acq->get_total_count(); }

// Trigger control
int cfg_main_t::initiate() { return m_pcfg_trig->initiate(); }
int cfg_main_t::abort() { return m_pcfg_trig->abort(); }
int cfg_main_t::set_trig_count_inf() { return m_pcfg_trig->set_trig_count_inf(); }

// Scan control
void cfg_main_t::set_scan_run_state(int s) { m_pcfg_scan->set_run_state(s); }
int cfg_main_t::get_scan_run_state() const { return m_pcfg_scan ? m_pcfg_scan->get_run_state() : 0; }
int cfg_main_t::scan_trigger_once() { return m_pcfg_scan->trigger_once(); }
plib_scan_run_state_t cfg_main_t::get_scan_run_state_info() const {
    plib_scan_run_state_t info;
    m_pscan->m_scan_run_state_info_msg.fetch(info);
    return info;
}

// Measurement parameters
bool cfg_main_t::has_function(int f) const { return m_pmeasure->has_function(f); }
int cfg_main_t::set_function(int f) { return m_pmeasure->set_function(f); }
int cfg_main_t::send_function(int f) const { return m_pmeasure->send_function(f); }
int cfg_main_t::get_function() const { return m_pmeasure->get_function(); }
void cfg_main_t::store_function(int f) { m_pmeasure->store_function(f); }
int cfg_main_t::set_auto_range(int f, int on) { return m_pmeasure->set_auto_range(f, on); }
int cfg_main_t::get_auto_range(int f) const { return m_pmeasure->get_auto_range(f); }
int cfg_main_t::set_range(int f, const std::string& range) { return m_pmeasure->set_range(f, range); }
std::string cfg_main_t::get_range(int f) const { return m_pmeasure->get_range(f); }
std::string cfg_main_t::read_range(int f) { return m_pmeasure->read_range(f); }
std::string cfg_main_t::query_range(int f) const { return m_pmeasure->query_range(f); }
void cfg_main_t::store_read_range(int f, const std::string& range) { m_pmeasure->store_read_range(f, range); }
int cfg_main_t::set_nplc(int f, const std::string& nplc) { return m_pmeasure->set_nplc(f, nplc); }
std::string cfg_main_t::get_nplc(int f) const { return m_pmeasure->get_nplc(f); }
int cfg_main_t::set_rel_state(int f, int on) { return m_pmeasure->set_rel_state(f, on); }
int cfg_main_t::get_rel_state(int f) const { return m_pmeasure->get_rel_state(f); }
int cfg_main_t::set_rel_value(int f, const std::string& value) { return m_pmeasure->set_rel_value(f, value); }
std::string cfg_main_t::get_rel_value(int f) const { return m_pmeasure->get_rel_value(f); }
int cfg_main_t::set_filter(int f, int on) { return m_pmeasure->set_filter(f, on); }
int cfg_main_t::get_filter(int f) const { return m_pmeasure->get_filter(f); }
int cfg_main_t::set_auto_zero(int f, int on) { return m_pmeasure->set_auto_zero(f, on); }
int cfg_main_t::get_auto_zero(int f) const { return m_pmeasure->get_auto_zero(f); }
int cfg_main_t::set_bandwidth(int f, const std::string& bandwidth) { return m_pmeasure->set_bandwidth(f, bandwidth);
}
std::string cfg_main_t::get_bandwidth(int f) const { return m_pmeasure->get_bandwidth(f); }
int cfg_main_t::set_diverter(int f, int v) { return m_pmeasure->set_diverter(f, v); }
int cfg_main_t::get_diverter(int f) const { return m_pmeasure->get_diverter(f); }
int cfg_main_t::set_aperture(int f, const std::string& aperture) { return m_pmeasure->set_aperture(f, aperture); }
std::string cfg_main_t::get_aperture(int f) const { return m_pmeasure->get_aperture(f); }
int cfg_main_t::set_beeper(int f, int v) { return m_pmeasure->set_beeper(f, v); }
int cfg_main_t::get_beeper(int f) const { return m_pmeasure->get_beeper(f); }
int cfg_main_t::set_threshold(int f, const std::string& threshold) { return m_pmeasure->set_threshold(f, threshold);
}
std::string cfg_main_t::get_threshold(int f) const { return m_pmeasure->get_threshold(f); }
int cfg_main_t::set_impedance(const std::string& impedance) { return m_pmeasure->set_impedance(impedance); }
std::string cfg_main_t::get_impedance() const { return m_pmeasure->get_impedance(); }
int cfg_main_t::set_temp_unit(int v) { return m_pmeasure->set_temp_unit(v); }
int cfg_main_t::get_temp_unit() const { return m_pmeasure->get_temp_unit(); }
int cfg_main_t::set_temp_display(int v) { return m_pmeasure->set_temp_display(v); }
int cfg_main_t::get_temp_display() const { return m_pmeasure->get_temp_display(); }
int cfg_main_t::set_temp_source(int v) { return m_pmeasure->set_temp_source(v); }
int cfg_main_t::get_temp_source() const { return m_pmeasure->get_temp_source(); }
int cfg_main_t::set_temp_ext_source_val(const std::string& value) { return m_pmeasure->set_temp_ext_source_val(value);
}
std::string cfg_main_t::get_temp_ext_source_val() const { return m_pmeasure->get_temp_ext_source_val(); }
int cfg_main_t::set_temp_sensor(const plib_temp_sensor_t& sensor) { return m_pmeasure->set_temp_sensor(sensor); }
plib_temp_sensor_t cfg_main_t::get_temp_sensor() const { return m_pmeasure->get_temp_sensor(); }
int cfg_main_t::sync_udef_sensors(std::vector<plib_udef_sensor_t>& out) { return m_pmeasure->sync_udef_sensors(out);
}
void cfg_main_t::apply_to_instrument() { m_pmeasure->apply_to_instrument(); }
cfg_measure_settings_t cfg_main_t::stored_settings() const { return m_pmeasure->stored_settings(); }
void cfg_main_t::restore_settings(const cfg_measure_settings_t& settings) {
    m_pmeasure->restore_settings(settings);
}

// Acquisition parameters
void cfg_main_t::set_acq_mode(int v) { m_pmeasure->set_acq_mode(v); }
int cfg_main_t::get_acq_mode() const { return m_pmeasure->get_acq_mode(); }
void cfg_main_t::set_buffer_mode(int v) { m_pmeasure->set_buffer_mode(v); }
int cfg_main_t::get_buffer_mode() const { return m_pmeasure->get_buffer_mode(); }
void cfg_main_t::set_record_position(int v) { m_pmeasure->set_record_position(v); }
int cfg_main_t::get_record_position() const { return m_pmeasure->get_record_position(); }
void cfg_main_t::set_record_directory(const std::string& dir) { m_pmeasure->set_record_directory(dir); }
std::string cfg_main_t::get_record_directory() const { return m_pmeasure->get_record_directory(); }
void cfg_main_t::set_auto_enable(bool b) { m_pmeasure->set_auto_enable(b); }
bool cfg_main_t::get_auto_enable() const { return m_pmeasure->get_auto_enable(); }
void cfg_main_t::set_auto_stop_mode(int v) { m_pmeasure->set_auto_stop_mode(v); }
int cfg_main_t::get_auto_stop_mode() const { return m_pmeasure->get_auto_stop_mode(); }
void cfg_main_t::set_stop_time(double seconds) { m_pmeasure->set_stop_time(seconds); }
double cfg_main_t::get_stop_time() const { return m_pmeasure->get_stop_time(); }
void cfg_main_t::set_stop_num(uint32_t n) { m_pmeasure->set_stop_num(n); }
uint32_t cfg_main_t::get_stop_num() const { return m_pmeasure->get_stop_num(); }
void cfg_main_t::set_interval_ms(int v) { m_pmeasure->set_interval_ms(v); }
int cfg_main_t::get_interval_ms() const { return m_pmeasure->get_interval_ms(); }
void cfg_main_t::clear_data() { m_pmeasure->clear_data(); }
int cfg_main_t::export_data(const std::string& path) { return m_pmeasure->export_data(path); }

// Measure diagram
void cfg_main_t::set_rec_time(double seconds) { m_pmeasure_diagram->set_rec_time(seconds); }
double cfg_main_t::get_rec_time() const { return m_pmeasure_diagram->get_rec_time(); }
void cfg_main_t::set_range_limits(double min, double max) { m_pmeasure_diagram->set_range_limits(min, max); }
void cfg_main_t::get_range_limits(double& min, double& max) const {
    m_pmeasure_diagram->get_range_limits(min, max);
}
void cfg_main_t::set_range_mode(int mode) { m_pmeasure_diagram->set_range_mode(mode); }
int cfg_main_t::get_range_mode() const { return m_pmeasure_diagram->get_range_mode(); }
void cfg_main_t::set_trend_mode(int mode) { m_pmeasure_diagram->set_trend_mode(mode); }
int cfg_main_t::get_trend_mode() const { return m_pmeasure_diagram->get_trend_mode(); }

// Scan configuration
cfg_scan_section_t cfg_main_t::get_scan_section() const { return cfg_scan_section_of(*m_pscan_config); }
void cfg_main_t::set_scan_section(const cfg_scan_section_t& s) { cfg_apply_scan_section(*m_pscan_config, s); }

// Scan diagram
void cfg_main_t::set_scan_display_mode(int mode) { m_pscan_diagram->set_display_mode(mode); }
int cfg_main_t::get_scan_display_mode() const { return m_pscan_diagram->get_display_mode(); }
void cfg_main_t::set_scan_display_period(double start, double end) {
    m_pscan_diagram->set_display_period(start, end);
}
void cfg_main_t::get_scan_display_period(double& start, double& end) const {
    m_pscan_diagram->get_display_period(start, end);
}
void cfg_main_t::set_curve_valid(int ch, bool valid) { m_pscan_diagram->set_curve_valid(ch, valid); }
bool cfg_main_t::get_curve_valid(int ch) const { return m_pscan_diagram->get_curve_valid(ch); }
void cfg_main_t::set_curve_auto_range(int ch, int on) { m_pscan_diagram->set_auto_range(ch, on); }
int cfg_main_t::get_curve_auto_range(int ch) const { return m_pscan_diagram->get_auto_range(ch); }
void cfg_main_t::set_curve_range(int ch, double upper, double lower) {
    m_pscan_diagram->set_range(ch, upper, lower);
}
void cfg_main_t::get_curve_range(int ch, double& upper, double& lower) const {
    m_pscan_diagram->get_range(ch, upper, lower);
}
void cfg_main_t::get_curve_scale(int ch, plib_curve_scale_t& scale) const {
    m_pscan_diagram->get_curve_scale(ch, scale);
}
void cfg_main_t::set_curve_visible(int ch, bool visible) { m_pscan_diagram->set_curve_visible(ch, visible); }
bool cfg_main_t::get_curve_visible(int ch) const { return m_pscan_diagram->get_curve_visible(ch); }
void cfg_main_t::set_curve_color(int ch, unsigned int color) { m_pscan_diagram->set_curve_color(ch, color); }
unsigned int cfg_main_t::get_curve_color(int ch) const { return m_pscan_diagram->get_curve_color(ch); }
void cfg_main_t::set_curve_line_pattern(int ch, int pattern) {
    m_pscan_diagram->set_curve_line_pattern(ch, pattern);
}
int cfg_main_t::get_curve_line_pattern(int ch) const { return m_pscan_diagram->get_curve_line_pattern(ch); }
void cfg_main_t::set_curve_symbol(int ch, int symbol) { m_pscan_diagram->set_curve_symbol(ch, symbol); }
int cfg_main_t::get_curve_symbol(int ch) const { return m_pscan_diagram->get_curve_symbol(ch); }

// Project
int cfg_main_t::save_section(const std::string& path) const { return m_pproject->save_section(path); }
int cfg_main_t::load_first_section(const std::string& path) { return m_pproject->load_first_section(path); }
int cfg_main_t::load_section(pugi::xml_node project) { return m_pproject->load_section(project); }
