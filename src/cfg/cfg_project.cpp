// Project section writer and reader, and the file helpers of the project file.
//
// pugixml builds and prints the document; only the atomic file replacement and the
// strict decimal readers are written here, because pugixml writes in place and its
// readers accept hexadecimal and saturate instead of refusing.
#include "cfg/cfg_project.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string_view>

#include "cfg/cfg_measure.h"
#include "cfg/cfg_measure_diagram.h"
#include "cfg/cfg_remote.h"
#include "cfg/cfg_scan_config.h"
#include "cfg/cfg_scan_diagram.h"
#include "common/plib_log_file.h"
#include "common/plib_measure_type.h"
#include "common/plib_model_registry.h"
#include "common/plib_number.h"

namespace cfg_project_file {

namespace {

std::string_view trimmed_text(pugi::xml_node parent, const char* name) {
    std::string_view s = parent.child(name).text().get();
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    return s;
}

template <typename T>
T parse_integer(std::string_view s) {
    T value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
    if (ec != std::errc() || end != s.data() + s.size()) return 0;
    return value;
}

bool write_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string to_string(const pugi::xml_document& doc) {
    std::ostringstream out;
    doc.save(out, "\t", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

void make_header(pugi::xml_document& doc) {
    doc.reset();
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    doc.append_child("root").append_child("SoftwareVersion").text().set(software_version);
}

int write_file_atomic(const std::string& path, const std::string& bytes) {
    namespace fs = std::filesystem;
    fs::path target(path);
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // Replace the file the link points to, not the link.
        std::error_code ec;
        target = fs::canonical(target, ec);
        if (ec) return -1;
    }
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        // A device or pipe cannot be replaced by renaming (and must not be): write into it.
        if (S_ISDIR(st.st_mode)) return -1;
        // Without waiting: a pipe nobody reads must not hold the program.
        const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return -1;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        const bool ok = write_all(fd, bytes);
        return (::close(fd) == 0 && ok) ? 0 : -1;
    }
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return -1;
    // mkstemp makes the file 0600: give it the mode any new file of this process gets.
    bool ok = plib_apply_file_mode(fd) == 0;
    ok = write_all(fd, bytes) && ok;
    ok = (::fsync(fd) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return -1;
    }
    // Make the rename itself durable.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return 0;
}

bool load_file(pugi::xml_document& doc, const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const pugi::xml_parse_result result = doc.load_file(path.c_str());
    return result && doc.child("root");
}

std::string load_failure_text(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? "there is no such file" : std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (::access(path.c_str(), R_OK) != 0) return "it cannot be read";
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_file(path.c_str());
    if (!result)
        return std::string("it is not XML (") + result.description() + " at byte " +
               std::to_string(static_cast<long long>(result.offset)) + ")";
    if (!doc.child("root")) return "it has no root element";
    return std::string();
}

std::string duplicate_resource(const std::vector<cfg_project_section_t>& sections) {
    std::set<std::string> seen;
    for (const cfg_project_section_t& s : sections)
        if (!s.resource.empty() && !seen.insert(s.resource).second) return s.resource;
    return std::string();
}

bool list_sections(pugi::xml_document& doc, const std::string& path,
                   std::vector<cfg_project_section_t>& sections) {
    sections.clear();
    if (!load_file(doc, path)) return false;
    const model_registry_t& models = model_registry_t::instance();
    int position = 0;
    for (pugi::xml_node p = doc.child("root").child("project"); p; p = p.next_sibling("project")) {
        cfg_project_section_t section;
        section.position = ++position;
        section.model = read_text(p, "product_type");
        section.resource = read_text(p, "resource");
        section.supported = models.family_of(section.model) != model_registry_t::family_none;
        section.node = p;
        sections.push_back(std::move(section));
    }
    return true;
}

int read_int(pugi::xml_node parent, const char* name) {
    return parse_integer<int>(trimmed_text(parent, name));
}
uint32_t read_uint(pugi::xml_node parent, const char* name) {
    return parse_integer<uint32_t>(trimmed_text(parent, name));
}
uint64_t read_u64(pugi::xml_node parent, const char* name) {
    return parse_integer<uint64_t>(trimmed_text(parent, name));
}
double read_double(pugi::xml_node parent, const char* name) {
    const std::string_view s = trimmed_text(parent, name);
    double value = 0.0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return 0.0;
    return value;
}
bool read_bool(pugi::xml_node parent, const char* name) { return parent.child(name).text().as_bool(); }
std::string read_text(pugi::xml_node parent, const char* name) { return parent.child(name).text().get(); }

// A text that goes to the instrument inside a SCPI command: a control character would
// end the command and start another. Setting values (ranges, speeds, ...) also never
// hold ';', which would chain a command on the same line; names may.
enum class instrument_text_t { name, setting };

bool is_instrument_text(std::string_view s, instrument_text_t kind) {
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || (c == ';' && kind == instrument_text_t::setting)) return false;
    }
    return true;
}

// Reads a text bound for the instrument into `value`; a refused one gives `current`
// (the value before loading) and says so in one console line (the value itself is not
// echoed: it holds control bytes).
void read_instrument_text(pugi::xml_node parent, const char* name, std::string& value,
                          const std::string& current, instrument_text_t kind = instrument_text_t::setting) {
    if (!parent.child(name)) {
        value = std::string();
        return;
    }
    std::string text = read_text(parent, name);
    if (!is_instrument_text(text, kind)) {
        std::printf("Project value refused: %s/%s holds a control character or command separator\n",
                    parent.name(), name);
        std::fflush(stdout);
        value = current;
        return;
    }
    value = std::move(text);
}

std::string format_double(double value) {
    // Locale-free: a project saved under a decimal-comma locale reads the same on every
    // desk and in the command-line tool.
    return format_general(value, 17);
}

}  // namespace cfg_project_file

namespace {

using namespace cfg_project_file;

void add_text(pugi::xml_node parent, const char* name, const std::string& value) {
    parent.append_child(name).text().set(value.c_str());
}
void add_int(pugi::xml_node parent, const char* name, long long value) {
    add_text(parent, name, std::to_string(value));
}
void add_u64(pugi::xml_node parent, const char* name, unsigned long long value) {
    add_text(parent, name, std::to_string(value));
}
void add_double(pugi::xml_node parent, const char* name, double value) {
    add_text(parent, name, format_double(value));
}
void add_bool(pugi::xml_node parent, const char* name, bool value) {
    add_text(parent, name, value ? "true" : "false");
}

void add_sensor(pugi::xml_node parent, const plib_temp_sensor_t& s) {
    add_int(parent, "define", s.define);
    add_int(parent, "type", s.type);
    add_text(parent, "name", s.name);
}

plib_temp_sensor_t read_sensor(pugi::xml_node node, const plib_temp_sensor_t& base) {
    plib_temp_sensor_t s;
    s.define = read_int(node, "define");
    s.type = read_int(node, "type");
    read_instrument_text(node, "name", s.name, base.name, instrument_text_t::name);
    return s;
}

void write_func_cfg(pugi::xml_node node, int function, const plib_measure_func_cfg_t& c) {
    if (function == measure_temp) {
        add_int(node, "temp_unit", c.temp_unit);
        add_int(node, "temp_display", c.temp_display);
        add_int(node, "temp_source", c.temp_source);
        add_text(node, "temp_ext_source_val", c.temp_ext_source_val);
        add_sensor(node.append_child("temp_sensor"), c.temp_sensor);
        pugi::xml_node list = node.append_child("udef_sensor");
        // Named by position, behind an underscore: a bare number is not an XML name, and
        // a file holding one could not be read back (nor appended to).
        for (std::size_t i = 0; i < c.udef_sensor.size(); ++i)
            add_sensor(list.append_child(("_" + std::to_string(i)).c_str()), c.udef_sensor[i]);
        return;
    }
    add_int(node, "auto_range", c.auto_range);
    add_text(node, "range", c.range);
    add_text(node, "nplc", c.nplc);
    add_int(node, "rel_state", c.rel_state);
    add_text(node, "rel_value", c.rel_value);
    add_int(node, "filter", c.filter);
    add_text(node, "impedance", c.impedance);
    add_text(node, "bandwidth", c.bandwidth);
    add_int(node, "auto_zero", c.auto_zero);
    add_int(node, "diverter", c.diverter);
    add_text(node, "aperture", c.aperture);
    add_int(node, "beeper", c.beeper);
    add_text(node, "threshold", c.threshold);
}

// `base` is the current entry: a text refused by read_instrument_text keeps its value.
plib_measure_func_cfg_t read_func_cfg(pugi::xml_node node, int function,
                                      const plib_measure_func_cfg_t& base) {
    plib_measure_func_cfg_t c;
    if (function == measure_temp) {
        c.temp_unit = read_int(node, "temp_unit");
        c.temp_display = read_int(node, "temp_display");
        c.temp_source = read_int(node, "temp_source");
        read_instrument_text(node, "temp_ext_source_val", c.temp_ext_source_val, base.temp_ext_source_val);
        c.temp_sensor = read_sensor(node.child("temp_sensor"), base.temp_sensor);
        for (pugi::xml_node s = node.child("udef_sensor").first_child(); s; s = s.next_sibling())
            if (s.type() == pugi::node_element) c.udef_sensor.push_back(read_sensor(s, plib_temp_sensor_t()));
        return c;
    }
    c.auto_range = read_int(node, "auto_range");
    read_instrument_text(node, "range", c.range, base.range);
    read_instrument_text(node, "nplc", c.nplc, base.nplc);
    c.rel_state = read_int(node, "rel_state");
    read_instrument_text(node, "rel_value", c.rel_value, base.rel_value);
    c.filter = read_int(node, "filter");
    read_instrument_text(node, "impedance", c.impedance, base.impedance);
    read_instrument_text(node, "bandwidth", c.bandwidth, base.bandwidth);
    c.auto_zero = read_int(node, "auto_zero");
    c.diverter = read_int(node, "diverter");
    read_instrument_text(node, "aperture", c.aperture, base.aperture);
    c.beeper = read_int(node, "beeper");
    read_instrument_text(node, "threshold", c.threshold, base.threshold);
    return c;
}

// A text setting the model does not offer (not in its table, or a number outside its
// limits) keeps the value before loading, with one console line; the rest loads. A
// value equal to the one before loading is always taken (a default may be unlisted).
void keep_offered_settings(const cfg_measure_t& measure, const std::string& model, int type,
                           const char* func_name, plib_measure_func_cfg_t& c,
                           const plib_measure_func_cfg_t& base) {
    if (type == measure_temp) return;  // its texts are names and free numbers
    struct field_t {
        cfg_text_setting_t setting;
        const char* name;
        std::string plib_measure_func_cfg_t::*member;
    };
    static const field_t fields[] = {
        {cfg_text_setting_t::range, "range", &plib_measure_func_cfg_t::range},
        {cfg_text_setting_t::nplc, "nplc", &plib_measure_func_cfg_t::nplc},
        {cfg_text_setting_t::rel_value, "rel_value", &plib_measure_func_cfg_t::rel_value},
        {cfg_text_setting_t::impedance, "impedance", &plib_measure_func_cfg_t::impedance},
        {cfg_text_setting_t::bandwidth, "bandwidth", &plib_measure_func_cfg_t::bandwidth},
        {cfg_text_setting_t::aperture, "aperture", &plib_measure_func_cfg_t::aperture},
        {cfg_text_setting_t::threshold, "threshold", &plib_measure_func_cfg_t::threshold},
    };
    for (const field_t& f : fields) {
        std::string& value = c.*(f.member);
        const std::string& before = base.*(f.member);
        if (value == before || measure.offers(type, f.setting, value)) continue;
        // Control characters were refused before: the value can be echoed.
        std::printf("Project value skipped: measure/func_cfg/%s/%s \"%s\" is not a value the %s offers\n",
                    func_name, f.name, value.c_str(), model.c_str());
        std::fflush(stdout);
        value = before;
    }
}

}  // namespace

cfg_scan_section_t cfg_scan_section_of(const cfg_scan_config_t& c) {
    cfg_scan_section_t s;
    s.record_position = c.get_record_enable();
    s.record_mode = c.get_file_mode();
    s.record_path = c.get_record_directory();
    s.start_mode = c.get_start_mode();
    s.start_timestamp = c.get_start_timestamp();
    s.stop_mode = c.get_stop_mode();
    s.stop_time = c.get_stop_duration();
    s.stop_timestamp = c.get_stop_timestamp();
    s.stop_rounds = static_cast<uint32_t>(c.get_stop_scan_count());
    s.recurrent_mode = c.get_scan_mode();
    s.delay = c.get_scan_delay();
    s.recurrent_counts = c.get_scan_count();
    s.auto_recurrent = c.get_auto_count();
    s.channel_param = c.get_channel_params();
    return s;
}

void cfg_apply_scan_section(cfg_scan_config_t& c, const cfg_scan_section_t& s) {
    c.set_record_enable(s.record_position);
    c.set_file_mode(s.record_mode);
    c.set_record_directory(s.record_path);
    c.set_start_mode(s.start_mode);
    c.set_start_timestamp(s.start_timestamp);
    c.set_stop_mode(s.stop_mode);
    c.set_stop_duration(s.stop_time);
    c.set_stop_timestamp(s.stop_timestamp);
    // Out of int range is out of the setter's range too.
    c.set_stop_scan_count(s.stop_rounds > 0x7fffffffu ? -1 : static_cast<int>(s.stop_rounds));
    c.set_scan_mode(s.recurrent_mode);
    c.set_scan_delay(s.delay);
    c.set_scan_count(s.recurrent_counts);  // after stop_rounds, which also sets it
    c.set_auto_count(s.auto_recurrent);
    c.set_channel_params(s.channel_param);
}

void cfg_project_t::append_section(pugi::xml_node root) const {
    pugi::xml_node project = root.append_child("project");
    add_text(project, "product_type", m_remote.get_model());
    add_text(project, "resource", m_remote.get_info().resource);

    const plib_measure_cfg_t m = m_measure.snapshot();
    pugi::xml_node measure = project.append_child("measure");
    add_int(measure, "function", m.function);
    pugi::xml_node func_cfg = measure.append_child("func_cfg");
    for (const auto& [key, entry] : m.cfg_map) {
        const std::string name = measure_scpi(static_cast<plib_measure_type_t>(key));
        if (name.empty()) continue;
        write_func_cfg(func_cfg.append_child(name.c_str()), key, entry);
    }
    add_int(measure, "acq_mode", m.acq_mode);
    pugi::xml_node acq = measure.append_child("acq_param");
    add_int(acq, "buffer_mode", m.buffer_mode);
    add_int(acq, "record_position", m.record_position);
    add_int(acq, "auto_stop_mode", m.auto_stop_mode);
    add_double(acq, "stop_time", m.stop_time);
    add_u64(acq, "stop_num", m.stop_num);
    add_bool(acq, "auto_enable", m.auto_enable);
    add_text(acq, "record_directory", m.record_directory);
    add_text(acq, "export_path", m.export_path);

    const cfg_measure_diagram_t& d = m_measure_diagram;
    pugi::xml_node diagram = project.append_child("measure_diagram");
    double range_min = 0.0, range_max = 0.0;
    d.get_range_limits(range_min, range_max);
    add_int(diagram, "trend_mode", d.get_trend_mode());
    add_double(diagram, "rec_time", d.get_rec_time());
    add_double(diagram, "range_min", range_min);
    add_double(diagram, "range_max", range_max);
    add_int(diagram, "range_mode", d.get_range_mode());

    const cfg_scan_section_t s = cfg_scan_section_of(m_scan_config);
    pugi::xml_node scan = project.append_child("scan");
    add_int(scan, "record_position", s.record_position);
    add_int(scan, "record_mode", s.record_mode);
    add_text(scan, "record_path", s.record_path);
    add_int(scan, "start_mode", s.start_mode);
    add_u64(scan, "start_timestamp", s.start_timestamp);
    add_int(scan, "stop_mode", s.stop_mode);
    add_double(scan, "stop_time", s.stop_time);
    add_u64(scan, "stop_timestamp", s.stop_timestamp);
    add_u64(scan, "stop_rounds", s.stop_rounds);
    add_int(scan, "recurrent_mode", s.recurrent_mode);
    add_double(scan, "delay", s.delay);
    add_int(scan, "recurrent_counts", s.recurrent_counts);
    add_int(scan, "auto_recurrent", s.auto_recurrent);
    pugi::xml_node channels = scan.append_child("channel_param");
    for (const auto& [ch, c] : s.channel_param) {
        pugi::xml_node n = channels.append_child("channel");
        n.append_attribute("index") = ch;
        add_text(n, "name", c.name);
        add_int(n, "scan_state", c.scan_state);
        add_int(n, "scan_counts", c.scan_counts);
        add_int(n, "func", c.func);
        add_text(n, "range", c.range);
        add_int(n, "speed", c.speed);
        add_int(n, "scaling", c.scaling);
        add_double(n, "gain", c.gain);
        add_double(n, "offset", c.offset);
        add_int(n, "alarm_limit", c.alarm_limit);
        add_double(n, "limit_low", c.limit_low);
        add_double(n, "limit_high", c.limit_high);
    }

    const cfg_scan_diagram_t& sd = m_scan_diagram;
    pugi::xml_node scan_diagram = project.append_child("scan_diagram");
    double start = 0.0, end = 0.0;
    sd.get_display_period(start, end);
    add_int(scan_diagram, "disp_mode", sd.get_display_mode());
    add_double(scan_diagram, "start", start);
    add_double(scan_diagram, "end", end);
    pugi::xml_node curves = scan_diagram.append_child("curve_param");
    for (const auto& [ch, c] : sd.curves()) {
        pugi::xml_node n = curves.append_child("channel");
        n.append_attribute("index") = ch;
        add_bool(n, "valid", c.valid);
        add_int(n, "range_mode", c.auto_range);
        add_double(n, "range_max", c.upper);
        add_double(n, "range_min", c.lower);
        add_bool(n, "visible", c.visible);
        add_u64(n, "color", c.color);
        add_int(n, "line_pattern", c.line_pattern);
        add_int(n, "symbol_pattern", c.symbol_pattern);
    }
}

int cfg_project_t::save_section(const std::string& path) const {
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str())) return -1;
    pugi::xml_node root = doc.child("root");
    if (!root) return -1;
    append_section(root);
    return write_file_atomic(path, to_string(doc));
}

namespace {
int read_index(pugi::xml_node channel) {
    std::string_view s = channel.attribute("index").value();
    int value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
    if (ec != std::errc() || end != s.data() + s.size()) return 0;
    return value;
}
}  // namespace

int cfg_project_t::load_section(pugi::xml_node project) {
    if (!project) return -1;

    if (pugi::xml_node measure = project.child("measure")) {
        plib_measure_cfg_t m;
        const plib_measure_cfg_t current = m_measure.snapshot();
        m.function = read_int(measure, "function");
        // A function the model does not have would reach the driver and the UI's tables.
        if (!m_measure.has_function(m.function)) m.function = m_measure.get_function();
        for (pugi::xml_node n = measure.child("func_cfg").first_child(); n; n = n.next_sibling()) {
            if (n.type() != pugi::node_element) continue;
            const plib_measure_type_t type = measure_type_from_scpi(n.name());
            if (type == measure_none || m.cfg_map.count(type) != 0) continue;
            const auto found = current.cfg_map.find(type);
            const plib_measure_func_cfg_t base =
                found != current.cfg_map.end() ? found->second : plib_measure_func_cfg_t();
            plib_measure_func_cfg_t c = read_func_cfg(n, type, base);
            keep_offered_settings(m_measure, m_remote.get_model(), type, n.name(), c, base);
            m.cfg_map.emplace(type, std::move(c));
        }
        m.acq_mode = read_int(measure, "acq_mode");
        pugi::xml_node acq = measure.child("acq_param");
        m.buffer_mode = read_int(acq, "buffer_mode");
        m.record_position = read_int(acq, "record_position");
        m.auto_stop_mode = read_int(acq, "auto_stop_mode");
        m.stop_time = read_double(acq, "stop_time");
        m.stop_num = read_uint(acq, "stop_num");
        m.auto_enable = read_bool(acq, "auto_enable");
        m.record_directory = read_text(acq, "record_directory");
        m.export_path = read_text(acq, "export_path");
        m_measure.apply_snapshot(m);
    }

    if (pugi::xml_node d = project.child("measure_diagram")) {
        cfg_measure_diagram_t& md = m_measure_diagram;
        md.set_trend_mode(read_int(d, "trend_mode"));
        md.set_rec_time(read_double(d, "rec_time"));
        md.set_range_limits(read_double(d, "range_min"), read_double(d, "range_max"));
        md.set_range_mode(read_int(d, "range_mode"));
    }

    if (pugi::xml_node scan = project.child("scan")) {
        cfg_scan_section_t s = cfg_scan_section_of(m_scan_config);
        plib_scan_channel_funcs_t channel_funcs;
        m_scan_config.get_channel_funcs(channel_funcs);
        auto channel_offers_func = [&channel_funcs](int channel, int func) {
            const auto it = channel_funcs.find(channel);
            return it != channel_funcs.end() &&
                   std::find(it->second.begin(), it->second.end(), static_cast<plib_measure_type_t>(func)) !=
                       it->second.end();
        };
        s.record_position = read_int(scan, "record_position");
        s.record_mode = read_int(scan, "record_mode");
        s.record_path = read_text(scan, "record_path");
        s.start_mode = read_int(scan, "start_mode");
        s.start_timestamp = read_u64(scan, "start_timestamp");
        s.stop_mode = read_int(scan, "stop_mode");
        s.stop_time = read_double(scan, "stop_time");
        s.stop_timestamp = read_u64(scan, "stop_timestamp");
        s.stop_rounds = read_uint(scan, "stop_rounds");
        s.recurrent_mode = read_int(scan, "recurrent_mode");
        s.delay = read_double(scan, "delay");
        s.recurrent_counts = read_int(scan, "recurrent_counts");
        s.auto_recurrent = read_int(scan, "auto_recurrent");
        for (pugi::xml_node n = scan.child("channel_param").child("channel"); n;
             n = n.next_sibling("channel")) {
            // Only the card's channels: an index out of range is not a new channel.
            auto it = s.channel_param.find(read_index(n));
            if (it == s.channel_param.end()) continue;
            plib_scanner_channel_param_t& c = it->second;
            read_instrument_text(n, "name", c.name, c.name, instrument_text_t::name);
            c.scan_state = read_int(n, "scan_state");
            c.scan_counts = read_int(n, "scan_counts");
            const int func_before = c.func;
            const std::string range_before = c.range;
            c.func = read_int(n, "func");
            read_instrument_text(n, "range", c.range, c.range);
            // The channel's function and range from the card's tables, as for the measure
            // settings above: anything else keeps the channel's value, with a line.
            if (c.func != func_before && !channel_offers_func(it->first, c.func)) {
                std::printf(
                    "Project value skipped: scan/channel %d/func %d is not a function the %s's "
                    "card offers there\n",
                    it->first, c.func, m_remote.get_model().c_str());
                c.func = func_before;
            }
            if ((c.range != range_before || c.func != func_before) && !c.range.empty()) {
                std::vector<std::string> ranges;
                m_scan_config.get_ranges(c.func, ranges);
                if (std::find(ranges.begin(), ranges.end(), c.range) == ranges.end()) {
                    std::printf(
                        "Project value skipped: scan/channel %d/range \"%s\" is not a value the %s "
                        "offers\n",
                        it->first, c.range.c_str(), m_remote.get_model().c_str());
                    c.range = range_before;
                }
            }
            std::fflush(stdout);
            c.speed = read_int(n, "speed");
            c.scaling = read_int(n, "scaling");
            // A stored gain is taken as stored, 0 included (files of older versions hold
            // 0 for channels never scaled); a file without one keeps the neutral gain.
            if (n.child("gain")) c.gain = read_double(n, "gain");
            c.offset = read_double(n, "offset");
            c.alarm_limit = read_int(n, "alarm_limit");
            c.limit_low = read_double(n, "limit_low");
            c.limit_high = read_double(n, "limit_high");
        }
        cfg_apply_scan_section(m_scan_config, s);
    }

    if (pugi::xml_node sd = project.child("scan_diagram")) {
        cfg_scan_diagram_t& g = m_scan_diagram;
        g.set_display_mode(read_int(sd, "disp_mode"));
        g.set_display_period(read_double(sd, "start"), read_double(sd, "end"));
        for (pugi::xml_node n = sd.child("curve_param").child("channel"); n; n = n.next_sibling("channel")) {
            const int ch = read_index(n);
            g.set_curve_valid(ch, read_bool(n, "valid"));
            g.set_auto_range(ch, read_int(n, "range_mode"));
            g.set_range(ch, read_double(n, "range_max"), read_double(n, "range_min"));
            g.set_curve_visible(ch, read_bool(n, "visible"));
            g.set_curve_color(ch, read_uint(n, "color"));
            g.set_curve_line_pattern(ch, read_int(n, "line_pattern"));
            g.set_curve_symbol(ch, read_int(n, "symbol_pattern"));
        }
    }
    return 0;
}

int cfg_project_t::load_first_section(const std::string& path) {
    pugi::xml_document doc;
    std::vector<cfg_project_section_t> sections;
    if (!list_sections(doc, path, sections) || sections.empty()) return -1;
    return load_section(sections.front().node);
}
