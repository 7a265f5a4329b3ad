#include "pub/pub_watch.h"

#include <cstdlib>
#include <vector>

namespace {

// The index just past the tag set (the first unescaped blank), from `i`.
std::size_t skip_token(std::string_view line, std::size_t i, bool stop_at_comma) {
    while (i < line.size() && line[i] != ' ' && !(stop_at_comma && line[i] == ',')) {
        if (line[i] == '"') {  // a string field: to its closing quote
            ++i;
            while (i < line.size() && line[i] != '"') i += line[i] == '\\' ? 2 : 1;
            if (i < line.size()) ++i;
            continue;
        }
        i += line[i] == '\\' ? 2 : 1;
    }
    return i < line.size() ? i : line.size();
}

std::vector<std::string_view> split_topic(std::string_view topic) {
    std::vector<std::string_view> levels;
    std::size_t start = 0;
    for (int n = 0; n < 16; ++n) {
        const std::size_t slash = topic.find('/', start);
        levels.push_back(topic.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return levels;
}

}  // namespace

std::string pub_line_tag(std::string_view line, std::string_view key) {
    std::size_t i = skip_token(line, 0, true);  // the measurement
    while (i < line.size() && line[i] == ',') {
        const std::size_t start = ++i;
        i = skip_token(line, i, true);
        const std::string_view pair = line.substr(start, i - start);
        std::size_t eq = 0;
        while (eq < pair.size() && pair[eq] != '=') eq += pair[eq] == '\\' ? 2 : 1;
        if (eq >= pair.size() || pair.substr(0, eq) != key) continue;
        std::string value;
        for (std::size_t k = eq + 1; k < pair.size(); ++k) {
            if (pair[k] == '\\' && k + 1 < pair.size()) ++k;
            value += pair[k];
        }
        return value;
    }
    return {};
}

bool pub_line_float_field(std::string_view line, std::string_view key, double& value) {
    std::size_t i = skip_token(line, 0, false);  // measurement and tags
    while (i < line.size() && line[i] == ' ') ++i;
    while (i < line.size()) {
        const std::size_t start = i;
        i = skip_token(line, i, true);
        const std::string_view pair = line.substr(start, i - start);
        const std::size_t eq = pair.find('=');
        if (eq != std::string_view::npos && pair.substr(0, eq) == key) {
            const std::string text(pair.substr(eq + 1));
            char* end = nullptr;
            value = std::strtod(text.c_str(), &end);
            return end != text.c_str() && *end == '\0';
        }
        if (i >= line.size() || line[i] != ',') break;
        ++i;
    }
    return false;
}

std::string pub_watch_printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            out += '?';
        } else if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            out += '?';  // U+0080..U+009F: C1 controls (CSI among them)
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

double pub_watch_row_t::rate(double now_s) const {
    const double span = now_s - first_s;
    return readings == 0 || span < 1 ? 0 : static_cast<double>(readings) / span;
}

const pub_watch_row_t* pub_watch_table_t::update(std::string_view topic, std::string_view payload, double now_s) {
    const std::size_t plen = m_prefix.size();
    if (topic.size() <= plen + 1 || topic.compare(0, plen, m_prefix) != 0 || topic[plen] != '/') return nullptr;
    const auto levels = split_topic(topic.substr(plen + 1));
    if (levels.size() != 4) return nullptr;
    const std::string_view kind = levels[3];
    if (kind != "readings" && kind != "scan" && kind != "status") return nullptr;
    const key_t key{std::string(levels[0]), std::string(levels[1]), std::string(levels[2])};
    if (m_rows.size() >= max_rows && m_rows.find(key) == m_rows.end()) {
        ++m_ignored;
        return nullptr;
    }
    pub_watch_row_t& row = m_rows[key];
    row.station = std::get<0>(key);
    row.model = std::get<1>(key);
    row.serial = std::get<2>(key);
    row.last_s = now_s;
    if (kind == "status") {
        pub_status_t status;
        if (payload.empty()) {
            // A cleared retained status: the bench was removed from the broker.
            m_rows.erase(key);
            return nullptr;
        }
        if (pub_status_parse(payload, status)) {
            row.status = status;
            row.has_status = true;
            row.state = status.state;
            row.offline = status.state == pub_status_offline;
        }
        return &row;
    }
    if (row.readings == 0) row.first_s = now_s;
    if (!row.has_status) row.state = kind == "scan" ? pub_status_scanning : pub_status_measuring;
    std::string_view last;
    std::size_t start = 0;
    while (start < payload.size()) {
        std::size_t end = payload.find('\n', start);
        if (end == std::string_view::npos) end = payload.size();
        if (end > start) {
            last = payload.substr(start, end - start);
            ++row.readings;
        }
        start = end + 1;
    }
    double value = 0;
    if (!last.empty() && pub_line_float_field(last, "value", value)) {
        row.has_value = true;
        row.value = value;
        row.unit = pub_line_tag(last, "unit");
    }
    return &row;
}
